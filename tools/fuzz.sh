#!/usr/bin/env bash
# Fuzzes one parser with libFuzzer (clang from Debian: packages clang, libclang-rt-14-dev).
#
#   tools/fuzz.sh NAME [SECONDS]     NAME as in tests/fuzz/NAME_fuzz.cc
#
# Builds the core library's sources with coverage instrumentation and sanitizers into
# build-fuzz/, then runs the target over a copy of tests/fuzz/corpus/NAME. New inputs that
# libFuzzer finds stay in build-fuzz/corpus-NAME; copy small interesting ones into the seed
# corpus by hand. Prints libFuzzer's final statistics (number of executions).
set -euo pipefail
cd "$(dirname "$0")/.."
name=${1:?usage: tools/fuzz.sh NAME [SECONDS]}
seconds=${2:-60}
out=build-fuzz
mkdir -p "$out"
gen="$out/generated"
mkdir -p "$gen"
python3 tools/gen_catalog.py po "$gen/i18n_catalog.cc"
sources=$(ls src/*.cc src/hw/*.cc | grep -vE '^src/main\.cc$')
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -Isrc $(pkg-config --cflags glib-2.0) \
    "tests/fuzz/${name}_fuzz.cc" $sources "$gen/i18n_catalog.cc" \
    $(pkg-config --libs glib-2.0) -ldl -o "$out/${name}_fuzz"
corpus="$out/corpus-$name"
mkdir -p "$corpus"
cp -n "tests/fuzz/corpus/$name/"* "$corpus/" 2>/dev/null || true
"$out/${name}_fuzz" -max_total_time="$seconds" -print_final_stats=1 "$corpus"
