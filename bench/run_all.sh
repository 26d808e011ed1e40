#!/usr/bin/env bash
# Every benchmark in one run, its figures printed side by side: the report beside its peers
# and beside its floor, collection over generated machines that grow, the identifier
# databases, and the window's first frame and idle cost.
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
    bench_ids_load > /dev/null

nice -n 19 python3 "$here/suite.py" "$build" "$@"
echo
nice -n 19 "$here/window_start.sh" "$build"
