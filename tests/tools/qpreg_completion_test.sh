#!/usr/bin/env bash
# The bash completion of qpreg, driven as bash drives it: COMP_WORDS and
# COMP_CWORD set, the function called, COMPREPLY read. Keys come from a
# private registry through the qpreg under test.
#
#   qpreg_completion_test.sh COMPLETION_SCRIPT QPREG
set -o pipefail
script=$1 qpreg=$(realpath "$2")
work=$(mktemp -d "${TMPDIR:-/tmp}/qpreg-completion.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" && ln -s "$qpreg" "$work/bin/qpreg"
export PATH=$work/bin:$PATH NL_REGISTRY_FILE=$work/registry.db
# Norlake has a value, so its listing names it; SOFTWARE has none.
qpreg add 'HKLM\SOFTWARE\Norlake' /f >/dev/null
qpreg add 'HKLM\SOFTWARE\Norlake\Quillpost' /f >/dev/null
qpreg add 'HKLM\SOFTWARE\Norlake\Qbert' /f >/dev/null
qpreg add 'HKLM\SOFTWARE\Norlake\Other Key' /f >/dev/null
# shellcheck source=/dev/null
source "$script"

failures=0
# expect "WORDS..." "EXPECTED REPLIES": completes the last word of the line.
expect() {
    local line=$1 expected=$2
    read -ra COMP_WORDS <<<"$line"
    [[ $line == *' ' ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _qpreg
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

[ $failures -eq 0 ] && echo "ok: completion"
exit $((failures > 0))
