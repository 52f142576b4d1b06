#!/usr/bin/env bash
# The DBG_LOG macros' format check, as a program that includes utilDebug.h
# meets it: every "ok" line of format_check/formats.txt compiles without a
# warning under -Wall -Wextra -Werror, and every "error" line fails, with g++
# and with clang++. The header, and the "ok" lines through it, also compile as
# C++11, C++14 and C++20 (below C++17 the macros log without the check).
#
#   format_check_test.sh INCLUDE_DIR
set -uo pipefail
include=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/format-check.XXXXXX")
trap 'rm -rf "$work"' EXIT

unit() {
    cat <<CPP
#include <utilDebug.h>
#include <cstddef>
void f() {
    int i = 1; DWORD u = 2; long long ll = 3; size_t n = 4; long l = 5; double d = 6;
    const char* s = "s"; const wchar_t* w = L"w"; void* v = nullptr; auto level = DBG_LEVEL_DEBUG;
    (void)i; (void)u; (void)ll; (void)n; (void)l; (void)d; (void)s; (void)w; (void)v; (void)level;
$1
}
CPP
}

failures=0
for compiler in g++ clang++; do
    command -v "$compiler" >/dev/null || { echo "FAIL: no $compiler" >&2; exit 1; }
    flags=(-std=c++17 -Wall -Wextra -Werror -fsyntax-only -I"$include" -x c++)
    # DWORD stands in for the Windows type of ported code.
    prelude='typedef unsigned int DWORD;'
    unit "$(sed -n 's/^ok *//p' "$here/format_check/formats.txt")" | sed "1a $prelude" >"$work/ok.cpp"
    for standard in c++17 c++11 c++14 c++20; do
        if ! "$compiler" "${flags[@]}" -std=$standard "$work/ok.cpp" 2>"$work/ok.log"; then
            echo "FAIL: $compiler -std=$standard: the ok lines do not compile cleanly:" >&2
            cat "$work/ok.log" >&2
            failures=$((failures + 1))
        fi
    done
    while IFS= read -r line; do
        unit "$line" | sed "1a $prelude" >"$work/error.cpp"
        if "$compiler" "${flags[@]}" "$work/error.cpp" 2>/dev/null; then
            echo "FAIL: $compiler compiles: $line" >&2
            failures=$((failures + 1))
        fi
    done < <(sed -n 's/^error *//p' "$here/format_check/formats.txt")
done
[ $failures -eq 0 ] && echo "ok: format check"
exit $((failures > 0))
