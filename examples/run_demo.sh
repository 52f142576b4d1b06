#!/bin/sh
# The demo: sets a private registry with qpreg, runs the demo twice with
# different settings, and shows the log files.
set -eu
build="@CMAKE_BINARY_DIR@"
work=$(mktemp -d "${TMPDIR:-/tmp}/utildebug-demo.XXXXXX")
export NL_REGISTRY_FILE="$work/registry.db"
key='HKLM\SOFTWARE\Norlake\Quillpost\CurrentVersion'
qpreg="$build/tools/qpreg/qpreg"

echo "== Settings (registry database $NL_REGISTRY_FILE)"
"$qpreg" add "$key" /v HomeDir /t REG_SZ /d "$work/home" /f >/dev/null
"$qpreg" add "$key" /v DebugModule /t REG_SZ /d "demo=1;indexer=0" /f >/dev/null
"$qpreg" add "$key" /v DebugLevel /t REG_DWORD /d 3 /f >/dev/null
"$qpreg" add "$key" /v LogCriticalInfo /t REG_DWORD /d 1 /f >/dev/null
mkdir -p "$work/home"
"$qpreg" query "$key"

echo "== Run 1: DebugLevel 3 (everything, the stress banner too), run id 1, with qpdbgview watching"
export NL_DEBUG_CHANNEL="$work/debug-output.sock"
"$build/tools/qpdbgview/qpdbgview" -n 2 >"$work/qpdbgview.out" 2>"$work/qpdbgview.err" &
viewer=$!
for _ in $(seq 100); do [ -S "$NL_DEBUG_CHANNEL" ] && break; sleep 0.05; done
NL_DEBUG_LOG_OUTPUT_ID=1 "$build/examples/demo"
wait "$viewer"
echo "-- qpdbgview (the channel $NL_DEBUG_CHANNEL):"
cat "$work/qpdbgview.out"
log1="$work/home/Debug/demo-1.log"
echo "-- $log1:"
cat "$log1"

echo
echo "== Run 2: DebugLevel 1 (errors and worse), run id 2"
"$qpreg" add "$key" /v DebugLevel /t REG_DWORD /d 1 /f >/dev/null
NL_DEBUG_LOG_OUTPUT_ID=2 "$build/examples/demo"
log2="$work/home/Debug/demo-2.log"
echo "-- $log2:"
cat "$log2"

echo
echo "== Run 3: DebugModule demo=0 (this process silenced), run id 3"
"$qpreg" add "$key" /v DebugModule /t REG_SZ /d "demo=0" /f >/dev/null
NL_DEBUG_LOG_OUTPUT_ID=3 "$build/examples/demo"
if [ -e "$work/home/Debug/demo-3.log" ]; then echo "unexpected: demo-3.log exists"; else echo "-- no log file written"; fi

# Counts the records of each logger in a log file (the logger is the second
# bracketed field of the default layout, after the process and thread ids).
loggers() { sed -n 's/^[^[]*\[[^]]*\]  \[ *\([^]]*\)\].*/\1/p' "$1" | sort | uniq -c; }

echo
echo "== Run 4: a feature silenced through the feature mapping file, run id 4"
"$qpreg" add "$key" /v DebugModule /t REG_SZ /d "demo=1" /f >/dev/null
"$qpreg" add "$key" /v DebugLevel /t REG_DWORD /d 3 /f >/dev/null
"$qpreg" add "$key" /v DataRootPath /t REG_SZ /d "$work/data" /f >/dev/null
mkdir -p "$work/data/config"
cat > "$work/data/config/dbglog_FeatureMapping.ini" <<'INI'
; one section per feature, one module file name per line
[Plugins]
libdemo_plugin.so
INI
echo "-- $work/data/config/dbglog_FeatureMapping.ini:"
cat "$work/data/config/dbglog_FeatureMapping.ini"
"$qpreg" add "$key" /v DebugLogDisabledFeatures /t REG_SZ /d "Plugins" /f >/dev/null
NL_DEBUG_LOG_OUTPUT_ID=4 "$build/examples/demo" >/dev/null
echo "-- records per logger in demo-4.log (libdemo_plugin.so is silent):"
loggers "$work/home/Debug/demo-4.log"

echo
echo "== Run 5: a module silenced by DebugLogDisabledDlls, run id 5"
"$qpreg" add "$key" /v DebugLogDisabledFeatures /t REG_SZ /d "" /f >/dev/null
"$qpreg" add "$key" /v DebugLogDisabledDlls /t REG_SZ /d "demo" /f >/dev/null
NL_DEBUG_LOG_OUTPUT_ID=5 "$build/examples/demo" >/dev/null
echo "-- records per logger in demo-5.log (demo is silent, the plugin speaks again):"
loggers "$work/home/Debug/demo-5.log"

echo
echo "Demo files are in $work"
