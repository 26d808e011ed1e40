#!/usr/bin/env bash
# Installs what is missing, builds, and then either starts Quarvel or runs the whole test suite.
#
#   ./setup.sh start   build and start the program: the window when a display exists,
#                      the text report otherwise
#   ./setup.sh test    build and run every test (also a sanitizer build unless
#                      QUARVEL_SKIP_SANITIZERS=1)
set -euo pipefail

cd "$(dirname "$0")"
here=$(pwd)
mode=${1:-}
case "$mode" in
    start|test) ;;
    *) echo "usage: $0 start|test" >&2; exit 2 ;;
esac

install_missing() {
    local missing=()
    local pkg
    while read -r pkg; do
        [ -z "$pkg" ] && continue
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed"; then
            missing+=("$pkg")
        fi
    done < <(sed -e 's/#.*//' -e 's/[[:space:]]//g' packages.txt)
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -ne 0 ] && sudo="sudo"
        export DEBIAN_FRONTEND=noninteractive
        $sudo apt-get update -qq
        $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir"
}

install_missing
jobs=$(nproc 2>/dev/null || echo 2)

if [ "$mode" = start ]; then
    build build -DCMAKE_BUILD_TYPE=Release -DQUARVEL_TESTS=OFF
    if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
        exec "$here/build/quarvel"
    fi
    exec "$here/build/quarvel" --report
fi

build build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARVEL_WERROR=ON
ctest --test-dir build-test --output-on-failure -j "$jobs"

if [ "${QUARVEL_SKIP_SANITIZERS:-0}" != 1 ]; then
    build build-sanitize -DCMAKE_BUILD_TYPE=Debug -DQUARVEL_WERROR=ON -DQUARVEL_SANITIZE=ON
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir build-sanitize --output-on-failure -j "$jobs"
fi
echo "All tests passed."
