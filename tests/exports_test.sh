#!/usr/bin/env bash
# A shipped library exports exactly the functions its header declares with
# its export macro (by name, without namespace), each under the library's
# symbol version, and no test hook, nor does the platform library it loads:
#   libutilDebug.so: UTILDEBUG_API in utilDebug.h, UTILDEBUG_1 of utilDebug.map;
#   libnlplatform.so: NLAPI in windows.h, NLPLATFORM_1 of nlplatform.map, each
#     function also under its second name NlImpl_<name> (the one utilDebug
#     calls).
#
#   exports_test.sh LIBRARY HEADER MACRO VERSION
set -euo pipefail
library=$1 header=$2 macro=$3 version=$4
status=0
# Fails with the title when there are lines to show.
report() {
    [ -z "$2" ] && return
    printf '%s:\n%s\n' "$1" "$(sed 's/^/  /' <<<"$2")" >&2
    status=1
}

declared=$(grep -E "^$macro " "$header" | sed -E 's/\(.*//; s/;.*//; s/.*[ *]([A-Za-z_][A-Za-z0-9_]*)[[:space:]]*$/\1/' | sort -u)
symbols=$(nm -D --defined-only "$library" | awk '$2 != "A" { print $3 }')
report "exported without the version $version (not listed in its .map?)" \
    "$(grep -v "@@$version\$" <<<"$symbols" | c++filt || true)"
names=$(sed "s/@@$version\$//" <<<"$symbols" | c++filt | sed -E 's/\(.*//; s/^DBG:://')
exported=$(grep -v '^NlImpl_' <<<"$names" | sort -u)
report "declared $macro in $header but not exported: add them to the .map" \
    "$(comm -23 <(echo "$declared") <(echo "$exported"))"
report "exported but not declared $macro in $header" "$(comm -13 <(echo "$declared") <(echo "$exported"))"
if [ "$macro" = NLAPI ]; then
    report "functions without their second name NlImpl_<name>, or the reverse" \
        "$(diff <(echo "$exported") <(sed -n 's/^NlImpl_//p' <<<"$names" | sort -u) || true)"
fi
for lib in "$library" $(ldd "$library" | awk '/libnlplatform/ { print $3 }'); do
    report "$lib exports test hooks" "$(nm -D --defined-only "$lib" | grep 'ForTesting' || true)"
done
[ $status -eq 0 ] && echo "ok: $(wc -l <<<"$exported") functions, all $version; no test hook"
exit $status
