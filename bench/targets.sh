# Sourced by the benchmark scripts: record_target TARGET MEASURED VERDICT adds one line to the
# summary bench/run_all.sh prints at its end (the file QUARVEL_BENCH_TARGETS names); run
# alone, a script records nothing.
record_target() {
    [ -n "${QUARVEL_BENCH_TARGETS:-}" ] || return 0
    printf '%s\t%s\t%s\n' "$1" "$2" "$3" >> "$QUARVEL_BENCH_TARGETS"
}
