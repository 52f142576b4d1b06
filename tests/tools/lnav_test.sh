#!/bin/sh
# lnav_test.sh FORMAT PROBE QPREG
# lnav, headless, on logs the library wrote: with the shipped format every
# record's level, time, logger and process id is recognised, in the default
# layout and in the one with milliseconds, and two processes' logs read
# together come out merged by time.
set -eu
format=$1 probe=$2 qpreg=$3

scratch=$(mktemp -d "${TMPDIR:-/tmp}/lnav-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export HOME="$scratch/home" NL_REGISTRY_FILE="$scratch/registry.db" TMPDIR="$scratch/tmp"
mkdir -p "$HOME" "$TMPDIR"
key='HKLM\SOFTWARE\Norlake\Quillpost\CurrentVersion'
"$qpreg" add "$key" /v DebugModule /t REG_SZ /d "alpha:1;beta:1" /f >/dev/null
"$qpreg" add "$key" /v DebugLevel /t REG_DWORD /d 3 /f >/dev/null
cp "$probe" "$scratch/alpha"
cp "$probe" "$scratch/beta"
lnav -i "$format" >/dev/null

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

query() {
    lnav -n -c ";SELECT $1 FROM quillpost_debug_log ORDER BY log_line" "$2" 2>&1
}

# Every level the library writes, in the default layout.
printf 'level 258 a debug record\nlevel 272 Open\nlevel 4097 a warning\nlevel 4098 an error\nlevel 65537 a fatal record\npid\n' |
    "$scratch/alpha" >"$scratch/alpha.out"
pid=$(sed -n 's/^pid=//p' "$scratch/alpha.out")
log="$TMPDIR/alpha.log"
got=$(query "log_level, pid, logger, file, log_body" "$log" | sed 's/  */ /g; s/ $//')
expected="log_level pid logger file log_body
debug $pid alpha log_probe.cpp a debug record
debug $pid alpha log_probe.cpp ==> Open
warning $pid alpha log_probe.cpp a warning
error $pid alpha log_probe.cpp an error
fatal $pid alpha log_probe.cpp a fatal record"
[ "$got" = "$expected" ] || fail "default layout: got
$got
expected
$expected"
# The time as written, to the second.
written=$(head -n 1 "$log" | cut -c1-19 | tr / -)
query "log_time" "$log" | grep -q "^$written.000" || fail "the time $written is not read: $(query log_time "$log")"

# Milliseconds, and two processes merged by time.
"$qpreg" add "$key" /v DebugLogFormat /t REG_SZ \
    /d '%d{yyyy/MM/dd HH:mm:ss.SSS Z}  [%-5s:%5t]  [%28c][%32F(%4L)]  [%-5p]  %m%n' /f >/dev/null
rm -f "$TMPDIR"/*.log
for turn in 1 2 3; do
    echo "log alpha $turn" | "$scratch/alpha" >/dev/null
    sleep 0.01
    echo "log beta $turn" | "$scratch/beta" >/dev/null
    sleep 0.01
done
grep -q '^....\/..\/.. ..:..:..\.... ' "$TMPDIR/alpha.log" || fail "no milliseconds in $(head -n 1 "$TMPDIR/alpha.log")"
merged=$(lnav -n -c ';SELECT log_body FROM all_logs ORDER BY log_time' "$TMPDIR/alpha.log" "$TMPDIR/beta.log" 2>&1 |
    sed 's/ *$//' | tail -n +2 | tr '\n' ',')
[ "$merged" = "alpha 1,beta 1,alpha 2,beta 2,alpha 3,beta 3," ] || fail "merged by time: $merged"
levels=$(lnav -n -c ';SELECT DISTINCT log_level FROM all_logs' "$TMPDIR/alpha.log" "$TMPDIR/beta.log" 2>&1 | tail -n +2 |
    sed 's/ *$//')
[ "$levels" = debug ] || fail "levels with milliseconds: $levels"
# A record the recorder kept, written out before an error, is marked as kept.
"$qpreg" add "$key" /v DebugLevel /t REG_DWORD /d 1 /f >/dev/null
"$qpreg" add "$key" /v DebugLogRecorder /t REG_DWORD /d 5 /f >/dev/null
rm -f "$TMPDIR/alpha.log"
printf 'log kept record\nlevel 4098 the error\n' | "$scratch/alpha" >/dev/null
# (The block's last line reads as the kept record's continuation.)
got=$(query "kept, log_level, log_body" "$TMPDIR/alpha.log" | grep -E 'kept record|the error' | sed 's/␊.*//; s/  */ /g; s/ $//')
[ "$got" = "$(printf '~ debug kept record\n<NULL> error the error')" ] || fail "kept records: $got"
echo "lnav reads the library's logs"
