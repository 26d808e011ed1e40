# Sourced by the benchmark scripts: record_target TARGET MEASURED VERDICT adds one line to the
# summary bench/run_all.sh prints at its end (the file QUARVEL_BENCH_TARGETS names); run
# alone, a script records nothing.
record_target() {
    [ -n "${QUARVEL_BENCH_TARGETS:-}" ] || return 0
    printf '%s\t%s\t%s\n' "$1" "$2" "$3" >> "$QUARVEL_BENCH_TARGETS"
}

# "met" when the figure $1 is at most the limit $2, else "not met".
at_most() {
    awk -v v="$1" -v limit="$2" 'BEGIN {print (v + 0 <= limit + 0) ? "met" : "not met"}'
}
