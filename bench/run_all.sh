#!/usr/bin/env bash
# Every benchmark in one run, its figures printed side by side: the report beside its peers
# and beside its floor, collection over generated machines that grow, the identifier
# databases, the window's first frame and idle cost, and the monitor bar's sample, frame and
# idle cost.
#
#   bench/run_all.sh [BUILD_DIR] [--quick]
#
# Installs what the benchmarks need from bench/packages.txt first (as root; the test suite
# needs none of it, so setup.sh leaves it alone), builds the benchmark programs, and runs
# everything at the lowest priority: the machine may be shared, so compare the ratios and
# per-item costs within one run rather than figures of different runs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
shift || true

missing=()
while read -r pkg; do
    [ -z "$pkg" ] && continue
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed" || missing+=("$pkg")
done < <(sed -e 's/#.*//' -e 's/[[:space:]]//g' "$here/packages.txt")
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing for the benchmarks: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake --build "$build" --target quarvel bench_read_files bench_bare_window bench_collectors \
    bench_ids_load bench_gui_monitor bench_gui_idle_reference > /dev/null

# Each benchmark adds its targets here; they are printed together at the end.
QUARVEL_BENCH_TARGETS=$(mktemp)
export QUARVEL_BENCH_TARGETS
trap 'rm -f "$QUARVEL_BENCH_TARGETS"' EXIT

nice -n 19 python3 "$here/suite.py" "$build" "$@"
echo
nice -n 19 "$here/window_start.sh" "$build"
echo
echo "== The monitor bar: one sample and one frame, on this machine and a 256-CPU capture =="
nice -n 19 "$build/bench_gui_monitor"
QUARVEL_SYSROOT="$here/../tests/fixtures/cpu-x86-256cpus" nice -n 19 "$build/bench_gui_monitor"
echo
echo "== The idle window with the monitor bar on a 16-CPU machine, beside a bare animated window =="
nice -n 19 "$here/monitor_idle.sh" "$build"
echo
echo "== The targets in this run =="
python3 - "$QUARVEL_BENCH_TARGETS" << 'EOF'
import sys
rows = [line.rstrip('\n').split('\t') for line in open(sys.argv[1], encoding='utf-8')]
widths = [max((len(r[i]) for r in rows), default=0) for i in (0, 1)]
for target, measured, verdict in rows:
    print(f'  {target:{widths[0]}s}  {measured:{widths[1]}s}  {verdict}'.rstrip())
EOF
