#!/usr/bin/env bash
# libutilDebug.so exports exactly the functions that utilDebug.h declares
# UTILDEBUG_API (by name), each under the version UTILDEBUG_1 of
# utilDebug.map, and no test hook; libnlplatform.so exports no test hook
# either.
#
#   exports_test.sh LIBRARY UTILDEBUG_H
set -euo pipefail
library=$1 header=$2

declared=$(grep -E '^UTILDEBUG_API ' "$header" | sed -E 's/\(.*//; s/.*[ *]([A-Za-z_][A-Za-z0-9_]*)$/\1/' | sort -u)
symbols=$(nm -D --defined-only "$library" | awk '$2 != "A" { print $3 }')
unversioned=$(grep -v '@@UTILDEBUG_1$' <<<"$symbols" || true)
# Names without their namespace and parameters.
exported=$(sed 's/@@UTILDEBUG_1$//' <<<"$symbols" | c++filt | sed -E 's/\(.*//; s/^DBG:://' | sort -u)

status=0
if [ -n "$unversioned" ]; then
    echo "exported without the version UTILDEBUG_1 (not listed in utilDebug.map?):" >&2
    echo "$unversioned" | c++filt | sed 's/^/  /' >&2
    status=1
fi
missing=$(comm -23 <(echo "$declared") <(echo "$exported"))
if [ -n "$missing" ]; then
    echo "declared UTILDEBUG_API in utilDebug.h but not exported: add them to utilDebug.map:" >&2
    echo "$missing" | sed 's/^/  /' >&2
    status=1
fi
extra=$(comm -13 <(echo "$declared") <(echo "$exported"))
if [ -n "$extra" ]; then
    echo "exported but not declared UTILDEBUG_API in utilDebug.h:" >&2
    echo "$extra" | sed 's/^/  /' >&2
    status=1
fi
platform=$(ldd "$library" | awk '/libnlplatform/ { print $3 }')
if [ -n "$platform" ] && nm -D --defined-only "$platform" | grep -q 'ForTesting'; then
    echo "$platform exports test hooks:" >&2
    nm -D --defined-only "$platform" | grep 'ForTesting' | sed 's/^/  /' >&2
    status=1
fi
[ $status -eq 0 ] && echo "ok: $(wc -l <<<"$symbols") symbols, all UTILDEBUG_1; no test hook"
exit $status
