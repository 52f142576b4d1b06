#!/usr/bin/env bash
# The size of the tests against the size of the code: non-blank lines that are
# not only a // comment (the project writes no /* */ comments), in every .cpp
# and .h under tests/ (support, fuzz targets and probes included) against
# those under src/, tools/, examples/ and bench/.
set -euo pipefail
cd "$(dirname "$0")/.."

count() {
    find "$@" -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 cat | grep -v '^[[:space:]]*$' |
        grep -vc '^[[:space:]]*//'
}

tests=$(count tests)
code=$(count src tools examples bench)
awk -v t="$tests" -v c="$code" 'BEGIN { printf "tests %d, code %d, ratio %.2f\n", t, c, t / c }'
