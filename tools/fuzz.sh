#!/usr/bin/env bash
# Fuzzes one parser with libFuzzer (clang from Debian: packages clang, libclang-rt-14-dev).
#
#   tools/fuzz.sh NAME [SECONDS] [LIBFUZZER OPTIONS…]     NAME as in tests/fuzz/NAME_fuzz.cc
#
# Builds the core library once with coverage instrumentation and sanitizers into build-fuzz/
# (a CMake tree, so later targets and later runs rebuild only what changed), then runs the
# target over a copy of tests/fuzz/corpus/NAME. New inputs that libFuzzer finds stay in
# build-fuzz/corpus-NAME; after a long run keep those that add coverage in the tree with
#   build-fuzz/tests/NAME_fuzz -merge=1 tests/fuzz/corpus/NAME build-fuzz/corpus-NAME
# Prints libFuzzer's final statistics (number of executions).
# Example, ten million executions at the lowest priority:
#   nice -n 19 tools/fuzz.sh exchange 0 -runs=10000000
set -euo pipefail
cd "$(dirname "$0")/.."
name=${1:?usage: tools/fuzz.sh NAME [SECONDS] [LIBFUZZER OPTIONS…]}
seconds=${2:-60}
shift $(($# < 2 ? $# : 2))
out=build-fuzz
if [ ! -f "$out/build.ninja" ]; then
    cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DQUARVEL_FUZZ=ON >/dev/null
fi
cmake --build "$out" --target "${name}_fuzz" -j2 >/dev/null
corpus="$out/corpus-$name"
mkdir -p "$corpus"
cp -n "tests/fuzz/corpus/$name/"* "$corpus/" 2>/dev/null || true
time_limit=()
[ "$seconds" != 0 ] && time_limit=(-max_total_time="$seconds")
"$out/tests/${name}_fuzz" "${time_limit[@]}" -print_final_stats=1 "$@" "$corpus"
