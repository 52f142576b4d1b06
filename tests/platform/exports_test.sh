#!/usr/bin/env bash
# libnlplatform.so exports exactly the functions that windows.h declares
# NLAPI, each also under its second name NlImpl_<name> (the one utilDebug
# calls), all under the symbol version NLPLATFORM_1 of nlplatform.map, and no
# test hook.
#
#   exports_test.sh LIBRARY WINDOWS_H
set -euo pipefail
library=$1 header=$2

declared=$(grep -E '^NLAPI ' "$header" | sed -E 's/\(.*//; s/;.*//; s/.*[ *]([A-Za-z_][A-Za-z0-9_]*)[[:space:]]*$/\1/' | sort -u)
symbols=$(nm -D --defined-only "$library" | awk '$2 != "A" { print $3 }')
unversioned=$(grep -v '@@NLPLATFORM_1$' <<<"$symbols" || true)
# Each function's second name, NlImpl_<name>, is checked below.
exported=$(sed 's/@@NLPLATFORM_1$//' <<<"$symbols" | grep -v '^NlImpl_' | sort -u)
bound=$(sed 's/@@NLPLATFORM_1$//' <<<"$symbols" | sed -n 's/^NlImpl_//p' | sort -u)

status=0
if [ -n "$unversioned" ]; then
    echo "exported without the version NLPLATFORM_1 (not listed in src/platform/nlplatform.map?):" >&2
    echo "$unversioned" | sed 's/^/  /' >&2
    status=1
fi
missing=$(comm -23 <(echo "$declared") <(echo "$exported"))
if [ -n "$missing" ]; then
    echo "declared NLAPI in windows.h but not exported: add them to src/platform/nlplatform.map:" >&2
    echo "$missing" | sed 's/^/  /' >&2
    status=1
fi
extra=$(comm -13 <(echo "$declared") <(echo "$exported"))
if [ -n "$extra" ]; then
    echo "exported but not declared NLAPI in windows.h:" >&2
    echo "$extra" | sed 's/^/  /' >&2
    status=1
fi
if [ "$bound" != "$exported" ]; then
    echo "functions without their second name NlImpl_<name>, or the reverse:" >&2
    diff <(echo "$exported") <(echo "$bound") | sed 's/^/  /' >&2 || true
    status=1
fi
if grep -q 'ForTesting' <<<"$exported"; then
    echo "exports test hooks:" >&2
    grep 'ForTesting' <<<"$exported" | sed 's/^/  /' >&2
    status=1
fi
[ $status -eq 0 ] && echo "ok: $(wc -l <<<"$exported") functions, each also as NlImpl_<name>, all NLPLATFORM_1"
exit $status
