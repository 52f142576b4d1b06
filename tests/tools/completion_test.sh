#!/usr/bin/env bash
# The bash completions of qpreg, qpdebug and qpdbgview, driven as bash drives
# them: COMP_WORDS and COMP_CWORD set, the function called, COMPREPLY read.
# Keys come from a private registry through the qpreg under test, features
# from a scratch mapping file through the qpdebug under test.
#
#   completion_test.sh TOOLS_SOURCE_DIR QPREG QPDEBUG
set -o pipefail
tools=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/completion.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/data/config" && ln -s "$(realpath "$2")" "$(realpath "$3")" "$work/bin/"
export PATH=$work/bin:$PATH NL_REGISTRY_FILE=$work/registry.db
# Norlake has a value, so its listing names it; SOFTWARE has none.
for key in Norlake Norlake\\Quillpost Norlake\\Qbert 'Norlake\Other Key'; do
    qpreg add "HKLM\\SOFTWARE\\$key" /f >/dev/null
done
printf '[Indexing]\nlibindexer.so\n[Search]\nlibquery.so\n' >"$work/data/config/dbglog_FeatureMapping.ini"
qpreg add 'HKLM\SOFTWARE\Norlake\Quillpost\CurrentVersion' /v DataRootPath /t REG_SZ /d "$work/data" /f >/dev/null
for tool in qpreg qpdebug qpdbgview; do
    # shellcheck source=/dev/null
    source "$tools/$tool/$tool.bash-completion"
done

failures=0
# expect "WORDS..." "EXPECTED REPLIES": completes the last word of the line.
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

expect "qpreg q" "query"
expect "qpreg --v" "--version"
expect "qpreg delete KEY /v" "/v /va /ve"
expect "qpreg query KEY /" "/? /c /d /e /f /k /reg:32 /reg:64 /s /t /v /ve"
expect "qpreg add KEY /t reg_d" "REG_DWORD"
expect "qpreg add KEY /d " ""
expect "qpreg query HK" 'HKEY_LOCAL_MACHINE\\ HKLM\\'
expect 'qpreg query HKLM\\SOFTWARE\\Norlake\\Q' 'HKLM\\SOFTWARE\\Norlake\\Qbert HKLM\\SOFTWARE\\Norlake\\Quillpost'
expect 'qpreg query HKLM\\SOFTWARE\\N' 'HKLM\\SOFTWARE\\Norlake'
expect 'qpreg export "HKLM\SOFTWARE\Norlake\O' '"HKLM\SOFTWARE\Norlake\Other Key'
expect 'qpreg query HKLM\\software\\norlake\\qu' 'HKLM\\software\\norlake\\Quillpost'

# The file of import and export, absolute paths included.
mkdir -p "$work/files/sub dir" && touch "$work/files/settings.reg" "$work/files/sub dir/x.reg"
expect "qpreg import $work/files/s" "$work/files/settings.reg $work/files/sub dir"
expect "qpreg export KEY $work/files/se" "$work/files/settings.reg"
expect "qpreg import /r" "$(compgen -f -- /r | sort | tr '\n' ' ' | sed 's/ $//')"
expect "qpreg import $work/files/settings.reg /r" "/reg:32 /reg:64"

expect "qpdebug s" "silence status"
expect "qpdebug on worker --level " "debug error fatal warn"
expect "qpdebug status --" "--help --json"
expect "qpdebug tail worker -" "--help --lines"
expect "qpdebug silence Ind" "indexing"
expect "qpdebug names " "features modules processes"
expect "qpdbgview --c" "--count"

[ $failures -eq 0 ] && echo "ok: completion"
exit $((failures > 0))
