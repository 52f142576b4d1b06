#!/usr/bin/env bash
# The bash completion of qpdebug, and qpdbgview's beside it, driven as bash drives it. Features come from
# a scratch mapping file through the qpdebug under test.
#
#   qpdebug_completion_test.sh COMPLETION_SCRIPT QPDEBUG
set -o pipefail
script=$1 qpdebug=$(realpath "$2")
work=$(mktemp -d "${TMPDIR:-/tmp}/qpdebug-completion.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/data/config" && ln -s "$qpdebug" "$work/bin/qpdebug"
export PATH=$work/bin:$PATH NL_REGISTRY_FILE=$work/registry.db
printf '[Indexing]\nlibindexer.so\n[Search]\nlibquery.so\n' > "$work/data/config/dbglog_FeatureMapping.ini"
qpreg=$(dirname "$qpdebug")/../qpreg/qpreg
"$qpreg" add 'HKLM\SOFTWARE\Norlake\Quillpost\CurrentVersion' /v DataRootPath /t REG_SZ /d "$work/data" /f >/dev/null
# shellcheck source=/dev/null
source "$script"
# shellcheck source=/dev/null
source "$(dirname "$script")/../qpdbgview/qpdbgview.bash-completion"

failures=0
expect() {
    local line=$1 expected=$2
    read -ra COMP_WORDS <<<"$line"
    [[ $line == *' ' ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    "_${COMP_WORDS[0]}"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//')
    if [ "$got" != "$expected" ]; then
        echo "FAIL: '$line' completes to '$got', expected '$expected'" >&2
        failures=$((failures + 1))
    fi
}

expect "qpdebug s" "silence status"
expect "qpdebug on worker --level " "debug error fatal warn"
expect "qpdebug status --" "--help --json"
expect "qpdebug tail worker -" "--help --lines"
expect "qpdebug silence Ind" "indexing"
expect "qpdebug names " "features modules processes"
expect "qpdbgview --c" "--count"
exit $((failures > 0))
