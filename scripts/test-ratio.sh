#!/usr/bin/env bash
# The size of the tests against the size of the code, counted whole: lines
# that are neither blank nor only a comment (// in C and C++, # elsewhere) in
# every tracked file.
#   tests: everything under tests/ (case data, shell tests and test build
#          files too) but the fuzz corpora and the planted-fault records;
#   code:  everything under src, tools, examples, bench, scripts, debian and
#          cmake, with the top CMakeLists.txt and Makefile, but man pages and
#          Markdown.
# Prints the whole, then each part: library, platform, tools, support (the
# rest: examples, benchmarks, scripts, packaging, build files, shared test
# support).
set -euo pipefail
cd "$(dirname "$0")/.."

# Counted lines of the files named on standard input.
count() {
    local n=0 f c
    while IFS= read -r f; do
        [ -f "$f" ] || continue
        case "$f" in
            *.c | *.cc | *.cpp | *.h | *.hpp) c=$(grep -c -v -E '^\s*(//.*)?$' "$f" || true) ;;
            *) c=$(grep -c -v -E '^\s*(#.*)?$' "$f" || true) ;;
        esac
        n=$((n + c))
    done
    echo "$n"
}

tests=$(git ls-files tests | grep -v -E '^tests/fuzz/[^/]+/(seeds|regressions)/|^tests/mutation/|^tests/mutants\.txt$')
code=$(git ls-files src tools examples bench scripts debian cmake CMakeLists.txt Makefile | grep -v -E '\.(1|md)$')

# The part a path belongs to.
part() {
    case "$1" in
        src/utility/* | tests/library/* | tests/data/library/*) echo library ;;
        src/platform/* | tests/platform/* | tests/data/registry/* | tests/data/crt/* | tests/data/printf/* | \
            tests/data/profile/* | tests/data/cluster/*) echo platform ;;
        tools/* | tests/tools/* | tests/data/qpreg/* | tests/data/qpdebug/* | tests/data/qpdbgview/*) echo tools ;;
        *) echo support ;;
    esac
}

ratio() { awk -v n="$1" -v t="$2" -v c="$3" 'BEGIN { printf "%-9s tests %5d, code %5d, ratio %.2f\n", n, t, c, (c ? t / c : 0) }'; }
# The files of the list that belong to the part.
of() { while IFS= read -r f; do if [ "$(part "$f")" = "$1" ]; then echo "$f"; fi; done; }

ratio all "$(count <<<"$tests")" "$(count <<<"$code")"
for p in library platform tools support; do
    t=$(of "$p" <<<"$tests" | count)
    c=$(of "$p" <<<"$code" | count)
    ratio "$p" "$t" "$c"
done
