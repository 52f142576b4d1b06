#!/usr/bin/env bash
# Plants the faults of a list one at a time and records which test catches
# each: a realistic mistake (a wrong comparison, an off-by-one, a dropped lock,
# a skipped step, a swapped argument) should make at least one test fail.
#
#   scripts/mutate.sh [-l LIST] [-o RESULT] [-r REV] [-t SECONDS] [-m REGEX] [-w DIR]
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
#
# The sources are copied into DIR/src and built in DIR/obj (ccache, two
# jobs; an executable is not relinked when only a shared library it uses
# changed), so the working tree is never touched. The suite runs
# once unchanged first; tests that fail then are left out of every run. A
# fault whose text is no longer found is reported "stale"; one that does not
# compile, "no-build". Each fault runs the suite with --stop-on-failure, or
# only the tests its list line names (recorded in the table).
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
list=$root/tests/mutants.txt
work=$root/build-mutate
result=""
rev=""
timeout=60
only=""
inplace=""
skipcheck=""
while getopts "l:o:r:t:m:w:ik" opt; do
    case $opt in
        l) list=$(realpath "$OPTARG") ;;
        o) result=$OPTARG ;;
        r) rev=$OPTARG ;;
        t) timeout=$OPTARG ;;
        m) only=$OPTARG ;;
        w) work=$(realpath -m "$OPTARG") ;;
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
export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR="$root"
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

# Runs ctest; prints the names of the failed tests, one a line.
run_tests() {
    local log=$1
    shift
    (cd "$obj" && nice ctest -j $jobs --timeout "$timeout" "$@" </dev/null >"$log" 2>&1)
    sed -n 's/^[[:space:]]*[0-9]\+ - \([^ ]*\) .*/\1/p' "$log"
}

broken=""
[ -n "$skipcheck" ] || broken=$(run_tests "$work/unchanged.log")
exclude=()
if [ -n "$broken" ]; then
    echo "failing before any fault (left out): $(echo $broken)" >&2
    exclude=(-E "^($(echo "$broken" | sed 's/[.[\]*+?()|^$]/\\&/g' | paste -sd'|'))\$")
fi

current=""
backup=$work/original
restore() { [ -n "$current" ] && cp "$backup" "$src/$current"; current=""; }
trap 'restore; exit 130' INT TERM
trap restore EXIT

{
    echo "# $(date -u '+%F %T') $( [ -n "$rev" ] && git -C "$root" rev-parse --short "$rev" || echo "working tree of $(git -C "$root" rev-parse --short HEAD)")"
    [ -n "$broken" ] && echo "# left out (failing unchanged): $(echo $broken)"
    printf '%-4s %-10s %-44s %-50s %s\n' "#" "result" "file" "fault" "caught by"
} >"$result"

n=0
planted=0
caught=0
while IFS= read -r line <&3; do
    [[ -z "$line" || "$line" == \#* ]] && continue
    # Tabs become a separator that is not white space, so that an empty
    # field (a deleting replacement) stays a field.
    IFS=$'\x1f' read -r file find replace description subset <<<"${line//$'\t'/$'\x1f'}"
    n=$((n + 1))
    if [ -n "$only" ] && ! printf '%s\t%s\t%s\n' "$file" "$find" "$description" | grep -qE "$only"; then
        continue
    fi
    status=""
    by=""
    if [ ! -f "$src/$file" ]; then
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
                args=(--stop-on-failure "${exclude[@]}")
                [ -n "$subset" ] && args=(--stop-on-failure -R "$subset" "${exclude[@]}")
                failed=$(run_tests "$work/fault.log" "${args[@]}")
                if [ -n "$failed" ]; then
                    status=caught
                    caught=$((caught + 1))
                    by=$(echo $failed)
                else
                    status="NOT-caught"
                fi
                [ -n "$subset" ] && by="$by (ran only: $subset)"
            fi
        else
            status=stale
        fi
        restore
    fi
    printf '%-4s %-10s %-44s %-50s %s\n' "$n" "$status" "$file" "$description" "$by" | tee -a "$result"
done 3<"$list"
build
echo "# planted $planted, caught $caught" | tee -a "$result"
