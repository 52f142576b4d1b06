#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for FUZZ_SECONDS (default 60) each,
# from its seeds, its regressions and what earlier runs found, and prints one
# line of figures per target. An input that crashes, or runs longer than 10 s,
# fails the run; it is kept under BUILD/fuzz-artifacts/TARGET/, and belongs in
# tests/fuzz/TARGET/regressions/ once the fault is fixed.
#
#   scripts/fuzz.sh [BUILD]          BUILD defaults to build-fuzz
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
status=0
for binary in "$build"/tests/fuzz/*_fuzz; do
    name=$(basename "$binary" _fuzz)
    corpus=$build/fuzz-corpus/$name
    artifacts=$build/fuzz-artifacts/$name
    log=$build/fuzz-logs/$name.log
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
    # libFuzzer refuses a corpus folder that does not exist, and git keeps no
    # empty folder: a target with no regressions yet has none.
    inputs=("$corpus")
    for folder in seeds regressions; do
        [ -d "$root/tests/fuzz/$name/$folder" ] && inputs+=("$root/tests/fuzz/$name/$folder")
    done
    if ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
            -artifact_prefix="$artifacts/" "${inputs[@]}" >"$log" 2>&1; then
        status=1
        echo "== $name FAILED; the input is in $artifacts/; the end of $log:"
        tail -n 30 "$log"
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    printf '%-18s %8s s  runs %-10s coverage %-6s features %-7s corpus %s\n' "$name" "$seconds" \
        "${runs:-?}" "${cov:-?}" "${ft:-?}" "$(ls "$corpus" | wc -l)"
done
exit $status
