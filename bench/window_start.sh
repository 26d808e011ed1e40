#!/usr/bin/env bash
# Time from starting the program to the window's first drawn frame, and the resident memory
# of the idle window, under a private X server (Xvfb) and session bus.
#
#   bench/window_start.sh [BUILD_DIR] [RUNS]
#
# The program reports its first draw when QUARVEL_REPORT_FIRST_DRAW is set; the start time is
# taken here just before the program is started, so loading the program, the toolkit and the
# window module all count. The processor time the program used until then is printed too: on
# a shared, busy machine it is the steadier figure. Prints every run and the medians.
set -euo pipefail
build=${1:-build}
runs=${2:-7}
program="$build/quarvel"
[ -x "$program" ] || { echo "no program at $program" >&2; exit 1; }

work=$(mktemp -d)
cleanup() {
    [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
    [ -n "${bus:-}" ] && kill "$bus" 2>/dev/null || true
    [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "$0")/../tests/private_desktop.sh"
start_private_desktop "$work"
export XDG_CONFIG_HOME="$work/config"

starts=()
cpus=()
rss=()
for i in $(seq "$runs"); do
    rm -rf "$work/config"
    t0=$(date +%s%6N)
    QUARVEL_REPORT_FIRST_DRAW=1 "$program" 2> "$work/err" &
    app=$!
    line=""
    for _ in $(seq 400); do
        line=$(grep -m1 'first draw at realtime' "$work/err" || true)
        [ -n "$line" ] && break
        sleep 0.025
    done
    [ -n "$line" ] || { echo "run $i: no first draw" >&2; cat "$work/err" >&2; exit 1; }
    t1=$(echo "$line" | sed 's/.* realtime \([0-9]*\) us/\1/')
    cpu=$(grep -m1 'processor time' "$work/err" | sed 's/.* \([0-9.]*\) ms of processor.*/\1/')
    ms=$(( (t1 - t0) / 1000 ))
    sleep 2 # idle
    kb=$(awk '/^VmRSS:/ {print $2}' "/proc/$app/status")
    kill "$app"
    wait "$app" 2>/dev/null || true
    app=""
    echo "run $i: first draw after ${ms} ms (${cpu} ms of processor time)," \
         "idle resident memory $((kb / 1024)) MiB"
    starts+=("$ms")
    cpus+=("${cpu%.*}")
    rss+=("$kb")
done

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }
echo "median: first draw after $(median "${starts[@]}") ms (target under 400 ms)" \
     "using $(median "${cpus[@]}") ms of processor time," \
     "idle resident memory $(( $(median "${rss[@]}") / 1024 )) MiB (target under 60 MiB)"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) processors"
