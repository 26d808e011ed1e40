#!/usr/bin/env bash
# The idle window's processor share with the monitor bar animating (33 ms frames) and sampling
# (once a second), on a 16-CPU machine (the two-socket fixture, given the /proc files the bar
# samples), over SECONDS under a private X server (Xvfb) and session bus. The same is measured
# for bench_gui_idle_reference, a bare window animating a panel of the logo's size, so the
# toolkit's own share under this X server is known from the same run. Processor time comes
# from /proc/PID/schedstat (nanoseconds); the X server's share is shown beside each.
#
#   bench/monitor_idle.sh [BUILD_DIR] [SECONDS]     (target: the program under 1 % of one core)
set -euo pipefail
build=${1:-build}
secs=${2:-30}
here=$(cd "$(dirname "$0")" && pwd)
program="$build/quarvel"
reference="$build/bench_gui_idle_reference"
for p in "$program" "$reference"; do
    [ -x "$p" ] || { echo "no program at $p (build the target first)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'stop_private_desktop; rm -rf "$work"' EXIT
source "$here/../tests/private_desktop.sh"
source "$here/targets.sh"
start_private_desktop "$work"
export XDG_CONFIG_HOME="$work/config"

machine="$work/machine"
cp -r "$here/../tests/fixtures/cpu-x86-2socket-smt-numa" "$machine"
{
    echo "cpu  2400000 1200 480000 38000000 9000 0 3100 0 0 0"
    for n in $(seq 0 15); do echo "cpu$n 150000 75 30000 2375000 560 0 190 0 0 0"; done
    echo "btime 1764000000"
} > "$machine/proc/stat"
printf 'MemTotal:       131811412 kB\nMemFree:        101234560 kB\nMemAvailable:   118123456 kB\n' \
    > "$machine/proc/meminfo"
mkdir -p "$machine/sys/class/hwmon/hwmon0"
echo coretemp > "$machine/sys/class/hwmon/hwmon0/name"
echo 41000 > "$machine/sys/class/hwmon/hwmon0/temp1_input"
echo "Package id 0" > "$machine/sys/class/hwmon/hwmon0/temp1_label"

cpu_ns() { cut -d' ' -f1 "/proc/$1/schedstat"; }
percent() { awk -v ns="$1" -v s="$secs" 'BEGIN { printf "%.2f", ns / (s * 1e7) }'; }

# Starts "$@", lets it settle, and prints its share and the X server's over $secs seconds.
measure() {
    "$@" > /dev/null 2>&1 &
    app=$!
    sleep 5
    local a0 x0 a1 x1
    a0=$(cpu_ns "$app"); x0=$(cpu_ns "$xvfb")
    sleep "$secs"
    a1=$(cpu_ns "$app"); x1=$(cpu_ns "$xvfb")
    kill "$app"
    wait "$app" 2>/dev/null || true
    app=""
    echo "$(percent $((a1 - a0))) % of one core (X server $(percent $((x1 - x0))) %)"
}

echo "over $secs s, 16-CPU machine:"
ours=$(QUARVEL_SYSROOT="$machine" measure "$program")
echo "  quarvel, idle window with the monitor bar:     $ours"
echo "  bare window animating a 258 x 104 panel:       $(measure "$reference")"
echo "  target: quarvel under 1 % of one core"
record_target "idle window with the monitor bar ≤ 1 % of one core" "${ours%% %*} % (16 CPUs)" \
    "$(at_most "${ours%% %*}" 1)"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) processors"
