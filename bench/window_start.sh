#!/usr/bin/env bash
# Time from starting the program to the window's first drawn frame, beside a bare GTK 3
# window holding one tree view (bench_bare_window) started the same way in the same run,
# then the idle window's resident memory and its share of one processor over IDLE_SECONDS
# (default 30), all under a private X server (Xvfb) and session bus.
#
#   bench/window_start.sh [BUILD_DIR] [RUNS]
#
# Both programs print the moment of their first draw ("first draw at realtime N us"; the
# program does so when QUARVEL_REPORT_FIRST_DRAW is set); the start time is taken here just
# before each is started, so loading the program, the toolkit and the window module all
# count. Runs alternate between the two, so a change of load hits both alike.
set -euo pipefail
build=${1:-build}
runs=${2:-7}
idle_seconds=${IDLE_SECONDS:-30}
program="$build/quarvel"
bare="$build/bench_bare_window"
for p in "$program" "$bare"; do
    [ -x "$p" ] || { echo "no program at $p (build the project first)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'stop_private_desktop; rm -rf "$work"' EXIT
source "$(dirname "$0")/../tests/private_desktop.sh"
source "$(dirname "$0")/targets.sh"
start_private_desktop "$work"
export XDG_CONFIG_HOME="$work/config"

# Starts "$@" in the background (its id in $app), waits for its first draw and leaves the
# milliseconds from start to that draw in $ms. Not run in a command substitution: that would
# wait for the program's end, and its $app would be lost. The program's errors come through a
# pipe that is read as they come: polling a file would start a process every few
# milliseconds, and on two processors that takes time from the program being measured.
mkfifo "$work/errors"
first_draw_ms() {
    rm -rf "$work/config"
    local t0 t1 line="" said=""
    t0=${EPOCHREALTIME/[.,]/} # microseconds, without starting a process for them
    QUARVEL_REPORT_FIRST_DRAW=1 "$@" 2> "$work/errors" &
    app=$!
    exec 5< "$work/errors" # kept open while the program runs: it may write more
    while IFS= read -r -t 20 line <&5; do
        [[ $line == *"first draw at realtime "* ]] && break
        said+="$line"$'\n'
        line=""
    done
    [ -n "$line" ] || { echo "$*: no first draw" >&2; printf '%s' "$said" >&2; exit 1; }
    t1=${line##* realtime }
    t1=${t1%% us}
    ms=$(( (t1 - t0) / 1000 ))
    # Both say, just before, how much processor time all their threads took until then.
    cpu_ms="?"
    [[ $said =~ ([0-9]+\.[0-9]+)\ ms\ of\ processor\ time ]] && cpu_ms=${BASH_REMATCH[1]}
}

stop_app() {
    kill "$app"
    wait "$app" 2>/dev/null || true
    exec 5<&-
    app=""
}

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }

echo "== The window's first frame beside a bare GTK 3 window with one tree view ($runs runs;" \
     "load $(cut -d' ' -f1-3 /proc/loadavg)) =="
ours=()
theirs=()
ours_cpu=()
theirs_cpu=()
for i in $(seq "$runs"); do
    first_draw_ms "$bare"
    b=$ms
    theirs_cpu+=("$cpu_ms")
    stop_app
    first_draw_ms "$program"
    q=$ms
    ours_cpu+=("$cpu_ms")
    stop_app
    echo "  run $i: quarvel ${q} ms, bare window ${b} ms"
    ours+=("$q")
    theirs+=("$b")
done
mq=$(median "${ours[@]}")
mb=$(median "${theirs[@]}")
ratio=$(awk -v a="$mq" -v b="$mb" 'BEGIN {printf "%.2f", b ? a / b : 0}')
echo "  median: quarvel ${mq} ms, bare window ${mb} ms, ratio $ratio (target ≤ 1.25)"
record_target "window first frame ≤ 1.25 × a bare window's" "$ratio× ($mq against $mb ms)" \
    "$(at_most "$ratio" 1.25)"
# Wall time on few processors also counts the program's threads waiting for each other; the
# processor time shows the work itself.
cq=$(median "${ours_cpu[@]}")
cb=$(median "${theirs_cpu[@]}")
echo "  processor time of all threads until then (median): quarvel ${cq} ms, bare window" \
     "${cb} ms, ratio $(awk -v a="$cq" -v b="$cb" 'BEGIN {printf "%.2f", b + 0 ? a / b : 0}')"

# The idle window: what it costs while nobody touches it. Once its monitor bar exists this
# includes the bar's sampling and animation.
monitor_bar="no"
[ -n "$(ls "$(dirname "$0")"/../src/gui/monitor_bar* 2>/dev/null)" ] && monitor_bar="yes"
first_draw_ms "$program"
sleep 3 # past start-up work queued after the first frame
ticks() { awk '{print $14 + $15}' "/proc/$app/stat"; }
hz=$(getconf CLK_TCK)
before=$(ticks)
sleep "$idle_seconds"
after=$(ticks)
kb=$(awk '/^VmRSS:/ {print $2}' "/proc/$app/status")
stop_app
share=$(awk -v t=$((after - before)) -v hz="$hz" -v s="$idle_seconds" \
    'BEGIN {printf "%.2f", 100 * t / hz / s}')
echo "== The idle window over ${idle_seconds} s (monitor bar in this build: $monitor_bar) =="
record_target "idle window with the monitor bar ≤ 1 % of one core" "$share % (this machine)" \
    "$(at_most "$share" 1)"
echo "  processor share $share % of one core" \
     "($((after - before)) ticks of 1/${hz} s; target ≤ 1 % with the monitor bar)," \
     "resident memory $((kb / 1024)) MiB"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) processors"
