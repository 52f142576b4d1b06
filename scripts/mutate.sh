#!/usr/bin/env bash
# Plants the faults of a list one at a time and records which test catches
# each: a realistic mistake (a wrong comparison, an off-by-one, a dropped lock,
# a skipped step, a swapped argument) should make at least one test fail.
#
#   scripts/mutate.sh [-l LIST] [-o RESULT] [-r REV] [-t SECONDS] [-m REGEX] [-w DIR]
#                     [-p PREVIOUS] [-x REGEX] [-s ROW] [-i] [-k]
#
#   -l LIST     the faults (default tests/mutants.txt; its header gives the format)
#   -o RESULT   the table written (default DIR/result.txt)
#   -r REV      plant into the tree of a commit (git archive) instead of the
#               working tree, e.g. to measure the suite before a change
#   -t SECONDS  each test's time limit (default 60)
#   -m REGEX    plant only the faults whose line matches REGEX
#   -w DIR      the copy and its build (default build-mutate), so that two
#               runs can go on side by side
#   -i          plant into the working tree itself and build in build/ (each
#               file is restored at once, also when the run is stopped);
#               nothing else may change the tree meanwhile
#   -k          trust that the unchanged suite passes: skip its run
#   -p PREVIOUS a result table of an earlier run: each fault it caught first
#               runs only three of the tests that caught it there (of those
#               still there), and the whole suite only when none of them
#               fails (to show quickly that nothing caught is lost); a fault
#               it did not catch is not planted
#   -x REGEX    the tests never run (default ^install\. : the packaging
#               tests build the packages, 90 s a run)
#   -s ROW      begin at that row of the list (to go on with a stopped run)
#
# The sources are copied into DIR/src and built in DIR/obj (ccache, two
# jobs; an executable is not relinked when only a shared library it uses
# changed), so the working tree is never touched. The suite runs
# once unchanged first; tests that fail then are left out of every run. A
# fault whose text is no longer found is reported "stale"; one that does not
# compile, "no-build". Each fault runs the whole suite to its end and the
# table names every test that failed: the catch matrix. A fault in a tool
# runs only the tests that run that tool (no other test runs its code). A
# run that passes three minutes is cut (a fault that hangs every test), and
# names the tests failed so far.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
list=$root/tests/mutants.txt
work=$root/build-mutate
result=""
rev=""
timeout=60
only=""
previous=""
never='^install\.'
first=1
inplace=""
skipcheck=""
while getopts "l:o:r:t:m:w:p:x:s:ik" opt; do
    case $opt in
        l) list=$(realpath "$OPTARG") ;;
        o) result=$OPTARG ;;
        r) rev=$OPTARG ;;
        t) timeout=$OPTARG ;;
        m) only=$OPTARG ;;
        w) work=$(realpath -m "$OPTARG") ;;
        p) previous=$(realpath "$OPTARG") ;;
        x) never=$OPTARG ;;
        s) first=$OPTARG ;;
        i) inplace=1 ;;
        k) skipcheck=1 ;;
        *) sed -n '2,20p' "$0" >&2; exit 2 ;;
    esac
done
[ -n "$result" ] || result=$work/result.txt
src=$work/src
obj=$work/obj
if [ -n "$inplace" ]; then
    src=$root
    obj=$root/build
fi
mkdir -p "$src" "$work"
# Paths relative to the worktree, so that this tree and build/ share ccache hits.
if command -v ccache >/dev/null; then
    export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR="$root"
fi
jobs=2

# The copy: files are rewritten only when their content changed, so that the
# build stays incremental between runs.
# Copies a tree over another, rewriting only files whose content differs.
sync_tree() {
    python3 - "$1" "$2" <<'EOF'
import filecmp, os, shutil, sys
source, target = sys.argv[1], sys.argv[2]
skip = lambda rel: rel == ".git" or rel.startswith(".git/") or rel.split("/")[0].startswith("build")
seen = set()
for folder, dirs, files in os.walk(source):
    rel = os.path.relpath(folder, source)
    rel = "" if rel == "." else rel
    dirs[:] = [d for d in dirs if not skip(os.path.join(rel, d))]
    for name in files:
        path = os.path.join(rel, name)
        if skip(path):
            continue
        seen.add(path)
        to = os.path.join(target, path)
        if not os.path.exists(to) or not filecmp.cmp(os.path.join(source, path), to, shallow=False):
            os.makedirs(os.path.dirname(to), exist_ok=True)
            shutil.copy(os.path.join(source, path), to)
for folder, dirs, files in os.walk(target):
    for name in files:
        path = os.path.relpath(os.path.join(folder, name), target)
        if path not in seen:
            os.remove(os.path.join(target, path))
EOF
}
if [ -n "$inplace" ]; then
    :
elif [ -n "$rev" ]; then
    snapshot=$(mktemp -d)
    git -C "$root" archive "$rev" | tar -x -C "$snapshot"
    sync_tree "$snapshot" "$src"
    rm -rf "$snapshot"
else
    sync_tree "$root" "$src"
fi

if [ ! -f "$obj/CMakeCache.txt" ]; then
    cmake -S "$src" -B "$obj" -G Ninja -DCMAKE_BUILD_TYPE= -DUTILDEBUG_BUILD_BENCHMARKS=OFF \
        -DUTILDEBUG_INSTALL=OFF -DCMAKE_LINK_DEPENDS_NO_SHARED=ON >"$work/configure.log" || { echo "error: configure failed ($work/configure.log)" >&2; exit 1; }
fi
build() { nice cmake --build "$obj" -j $jobs </dev/null >"$work/build.log" 2>&1; }
build || { echo "error: the unchanged tree does not build ($work/build.log)" >&2; exit 1; }

# Runs ctest, for three minutes at most; prints the names of the failed
# tests, one a line, from its progress lines (a cut run has no summary).
run_tests() {
    local log=$1
    shift
    (cd "$obj" && timeout -s INT 180 nice ctest -j $((jobs + 1)) --timeout "$timeout" "$@" </dev/null >"$log" 2>&1)
    sed -n 's/^[[:space:]]*[0-9]\+\/[0-9]\+ Test[[:space:]]\+#[0-9]\+: \([^ ]*\) .*\*\*\*.*/\1/p' "$log" | sort -u
}

broken=""
[ -n "$skipcheck" ] || broken=$(run_tests "$work/unchanged.log" -E "$never")
# A regular expression that matches the names given one a line.
names_regex() { echo "^($(sed 's/[.[\]*+?()|^$\\{}]/\\&/g' | paste -sd'|'))"; }
excluded=$never
if [ -n "$broken" ]; then
    echo "failing before any fault (left out): $(echo $broken)" >&2
    excluded="$excluded|$(names_regex <<<"$broken")\$"
fi
# The tests a fault in the file may run, as ctest arguments: those that run
# the tool for a tool's file; every test for the rest, but the format check
# (which compiles only the public header) for the other files.
runners() {
    case $1 in
        */include/utilDebug.h) echo "-E $excluded" ;;
        tools/qpreg/*) echo "-E $excluded -R ^(qpreg_|completion|registry_crash_test|utildebug_reconfiguration_test|lnav_format|journal_fleet)" ;;
        tools/qpdebug/*) echo "-E $excluded -R ^(qpdebug|completion)" ;;
        tools/qpdbgview/*) echo "-E $excluded -R ^(qpdbgview|completion)" ;;
        *) echo "-E $excluded|^format_check\$" ;;
    esac
}

# The earlier run's catchers, by row, of the tests there are now (names cut
# at the first blank, as ctest's lines give them).
declare -A earlier=()
if [ -n "$previous" ]; then
    existing=$(cd "$obj" && ctest -N | sed -n 's/^ *Test *#[0-9]*: \([^ ]*\).*/\1/p')
    while IFS=$'\t' read -r row outcome _ _ tests; do
        [ "$outcome" = caught ] || continue
        earlier[$row]=$(tr ' ' '\n' <<<"$tests" | grep -Fx -f <(echo "$existing") | head -3 | paste -sd' ')
        [ -n "${earlier[$row]}" ] || earlier[$row]=-
    done < <(grep -v '^#' "$previous")
fi
current=""
backup=$work/original
restore() { [ -n "$current" ] && cp "$backup" "$src/$current"; current=""; }
trap 'restore; exit 130' INT TERM
trap restore EXIT

{
    echo "# $(date -u '+%F %T') $( [ -n "$rev" ] && git -C "$root" rev-parse --short "$rev" || echo "working tree of $(git -C "$root" rev-parse --short HEAD)")"
    [ -n "$broken" ] && echo "# left out (failing unchanged): $(echo $broken)"
    printf '%s\t%s\t%s\t%s\t%s\n' "#" "result" "file" "fault" "caught by"
} >"$result"

n=0
planted=0
caught=0
while IFS= read -r line <&3; do
    [[ -z "$line" || "$line" == \#* ]] && continue
    # Tabs become a separator that is not white space, so that an empty
    # field (a deleting replacement) stays a field.
    IFS=$'\x1f' read -r file find replace description <<<"${line//$'\t'/$'\x1f'}"
    n=$((n + 1))
    [ "$n" -ge "$first" ] || continue
    if [ -n "$only" ] && ! printf '%s\t%s\t%s\n' "$file" "$find" "$description" | grep -qE "$only"; then
        continue
    fi
    status=""
    by=""
    if [ -n "$previous" ] && [ -z "${earlier[$n]:-}" ]; then
        status="not-run"
    elif [ ! -f "$src/$file" ]; then
        status=stale
    else
        cp "$src/$file" "$backup"
        current=$file
        if FIND=$find REPLACE=$replace python3 - "$src/$file" <<'EOF'; then
import os, sys
path = sys.argv[1]
find = os.environ["FIND"].replace("<NL>", "\n")
replace = os.environ["REPLACE"].replace("<NL>", "\n")
text = open(path, encoding="utf-8").read()
if find not in text:
    sys.exit(1)
open(path, "w", encoding="utf-8").write(text.replace(find, replace, 1))
EOF
            planted=$((planted + 1))
            if ! build; then
                status=no-build
            else
                failed=""
                if [ -n "$previous" ] && [ "${earlier[$n]}" != - ]; then
                    failed=$(run_tests "$work/fault.log" -E "$excluded" -R "$(tr ' ' '\n' <<<"${earlier[$n]}" | names_regex)")
                fi
                # shellcheck disable=SC2046
                [ -n "$failed" ] || failed=$(run_tests "$work/fault.log" $(runners "$file"))
                if [ -n "$failed" ]; then
                    status=caught
                    caught=$((caught + 1))
                    by=$(echo $failed)
                else
                    status="NOT-caught"
                fi
                grep -q 'Total Test time' "$work/fault.log" || by="$by (run cut at 180 s)"
            fi
        else
            status=stale
        fi
        restore
    fi
    printf '%s\t%s\t%s\t%s\t%s\n' "$n" "$status" "$file" "$description" "$by" | tee -a "$result"
done 3<"$list"
build
echo "# planted $planted, caught $caught" | tee -a "$result"
