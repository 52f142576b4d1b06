#!/usr/bin/env bash
# The library's units as a ladder: prints each unit's rung, counted from the
# entry points (1) down to the names, locks and conversions (8), and fails on
# an include of a unit that stands higher, on a circle, on a unit that has no
# rung, and on a rule (a unit that touches nothing outside memory) that
# includes a reader (the registry, files, the cluster). Units on the same rung
# may include one another as long as no circle forms. Everything outside the
# folder (the platform layer, log4cxx, the C++ library) stands below the
# lowest rung.
#   scripts/ladder.sh [library folder]
set -euo pipefail
dir=${1:-"$(dirname "$0")/../src/utility/utilDebug"}
cd "$dir"
[ -d internal ] && search=(. internal) || search=(.)

# rung unit...   (from the top down)
rungs=(
    "1 dbg_ns_debug dbg_banner dbg_threadid"
    "2 dbg_settings"
    "3 Log4cxxAdapter dbg_lifecycle dbg_recorder"
    "4 dbg_appender dbg_writers dbg_logfile dbg_sizelimit dbg_route dbg_levels dbg_recordtext dbg_logcheck dbg_journal dbg_layout commonDebugUtil"
    "5 dbg_filter"
    "6 dbg_dataroot dbg_logpath ProductRegINIReader dbg_diagnostics dbg_registry"
    "7 FeatureConfig dbg_modules dbg_loglocation dbg_modulelist dbg_modulename ModuleName dbg_format dbg_destination"
    "8 dbg_defaults dbg_locks dbg_threadsafety dbg_convert"
)
readers=6
rules=7
declare -A rung name
for line in "${rungs[@]}"; do
    set -- $line
    r=$1; shift
    for u in "$@"; do rung[$u]=$r; done
done
name=([1]="entry points" [2]="settings store" [3]="back end" [4]="back end's parts" [5]=filter
      [6]="readers: registry, files, cluster" [7]="rules: memory only" [8]="names, locks, conversion")

fail=0
edges=$(mktemp)
trap 'rm -f "$edges"' EXIT
for f in $(find "${search[@]}" -maxdepth 1 \( -name '*.cpp' -o -name '*.h' \) | sort); do
    unit=$(basename "$f"); unit=${unit%.*}
    if [ -z "${rung[$unit]:-}" ]; then
        echo "no rung: $unit ($f)"; fail=1; continue
    fi
    for inc in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]\([^">]*\)[">].*/\1/p' "$f"); do
        base=$(basename "$inc"); target=${base%.*}
        # Only the folder's own units count.
        found=
        for d in "${search[@]}"; do [ -f "$d/$base" ] && found=1; done
        [ -n "$found" ] || continue
        [ "$target" = "$unit" ] && continue
        echo "$unit $target" >>"$edges"
        if [ "${rung[$unit]}" = "$rules" ] && [ "${rung[$target]:-0}" = "$readers" ]; then
            echo "a rule reads: $f includes the reader $inc"
            fail=1
        elif [ "${rung[$target]:-99}" -lt "${rung[$unit]}" ]; then
            echo "runs back up: $f includes $inc (rung ${rung[$unit]} -> ${rung[$target]})"
            fail=1
        fi
    done
done
if ! tsort "$edges" >/dev/null 2>"$edges.err"; then
    echo "circle:"; grep -v 'input contains a loop' "$edges.err" | sed 's/^tsort: /  /'
    fail=1
fi
rm -f "$edges.err"

for r in 1 2 3 4 5 6 7 8; do
    units=$(for u in "${!rung[@]}"; do if [ "${rung[$u]}" = "$r" ]; then echo "$u"; fi; done | sort | tr '\n' ' ')
    printf '%s %-52s %s\n' "$r" "${name[$r]}" "$units"
done
[ "$fail" = 0 ] && echo "ladder: no include runs back up, no circle" || { echo "ladder: broken"; exit 1; }
