#!/usr/bin/env bash
# The lock annotations reach clang (make thread-safety checks nothing
# otherwise): a guarded variable written without its lock, the locks taken
# out of order, or a function that takes a lock called by its holder (a
# re-entry) do not compile under -Wthread-safety; the right way does.
#   thread_safety_check_test.sh LIBRARY_DIR PLATFORM_INCLUDE_DIR
set -uo pipefail
command -v clang++ >/dev/null || { echo "FAIL: no clang++" >&2; exit 1; }
flags=(-std=c++17 -fsyntax-only -Wthread-safety -Wthread-safety-beta -Werror -I"$1" -I"$2" -x c++ -)
unit() { printf '#include "dbg_locks.h"\nusing namespace dbg_internal;\nint g_value GUARDED_BY(AdapterLock());\nvoid f() { %s g_value = 1; }\n' "$1"; }
lock() { printf 'CGuard<CSLock> %s(&%s());' "${1,,}" "$1"; }
unit "$(lock SettingsLock) $(lock AdapterLock)" | clang++ "${flags[@]}" || { echo "FAIL: the locked write" >&2; exit 1; }
for body in "" "$(lock SettingsLock)" "$(lock AdapterLock) $(lock SettingsLock)"; do
    if unit "$body" | clang++ "${flags[@]}" 2>/dev/null; then echo "FAIL: compiles: $body" >&2; exit 1; fi
done
reentry() { printf '#include "dbg_filter.h"\nusing namespace dbg_internal;\nvoid f() { CGuard<CSLock> held(&AdapterLock()); %s }\n' "$1"; }
reentry "ApplyDisabledModulesToLoggersLocked();" | clang++ "${flags[@]}" || { echo "FAIL: the call under the lock" >&2; exit 1; }
if reentry "ApplyDisabledModulesToLoggers();" | clang++ "${flags[@]}" 2>/dev/null; then
    echo "FAIL: compiles: a re-entry of the adapter lock" >&2; exit 1
fi
echo "ok: thread-safety check"
