#!/usr/bin/env bash
# The project as its users get it: installed with cmake --install, packaged
# as a .deb, or taken in by another project with add_subdirectory.
#
#   install_test.sh cmake|pkgconfig|package|subproject BUILD_DIR SOURCE_DIR
#
# cmake, pkgconfig: installs the build into a scratch prefix, moves the tree
#   elsewhere (it must not depend on where it was installed), checks that no
#   RUNPATH names the build machine's folders, then builds the consumer
#   against it through find_package or pkg-config and runs it, with settings
#   made by the installed qpreg.
# package: builds the .deb with CPack, checks its dependencies and contents,
#   unpacks it into a scratch root and does the same there.
# subproject: configures a project that add_subdirectory()s this one and
#   checks that only the libraries are built unless options ask for more.
set -euo pipefail
mode=$1 build=$(cd "$2" && pwd) source=$(cd "$3" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/utildebug-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Every ELF file of the tree has a RUNPATH, if any, relative to itself.
check_runpaths() {
    local tree=$1 file runpath
    while IFS= read -r file; do
        runpath=$(readelf -d "$file" 2>/dev/null | sed -n 's/.*(R\(UN\)\?PATH).*\[\(.*\)\]/\2/p')
        [ -z "$runpath" ] && continue
        case $runpath in
            *"$build"* | *"$source"*) fail "$file: RUNPATH names the build tree: $runpath" ;;
            \$ORIGIN*) ;;
            *) fail "$file: RUNPATH is not relative to the file: $runpath" ;;
        esac
    done < <(find "$tree" -type f \( -name '*.so*' -o -perm -u+x \))
}

# Sets the consumer's settings with the tree's qpreg, runs it, and expects
# its record in the log file.
run_consumer() {
    local prefix=$1 consumer=$2
    export NL_REGISTRY_FILE=$work/registry.db
    local key='HKLM\SOFTWARE\Norlake\Quillpost\CurrentVersion'
    mkdir -p "$work/home"
    "$prefix/bin/qpreg" add "$key" /v HomeDir /d "$work/home" /f >/dev/null || fail "installed qpreg does not run"
    "$prefix/bin/qpreg" add "$key" /v DebugModule /d "consumer=1" /f >/dev/null
    local output
    output=$(LD_LIBRARY_PATH=$prefix/lib "$consumer") || fail "the consumer failed: $output"
    [ "$output" = "enabled=1" ] || fail "the consumer printed: $output"
    grep -q "hello from the consumer, 42" "$work/home/Debug/consumer.log" ||
        fail "no record in $work/home/Debug/consumer.log"
}

build_with_cmake() {
    local prefix=$1
    cmake -S "$here/consumer" -B "$work/consumer-build" "${generator[@]}" -DCMAKE_PREFIX_PATH="$prefix" \
        >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "find_package(utilDebug) failed"; }
    cmake --build "$work/consumer-build" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "build failed"; }
    echo "$work/consumer-build/consumer"
}

build_with_pkgconfig() {
    local prefix=$1 flags
    flags=$(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --cflags --libs utilDebug) ||
        fail "pkg-config does not find utilDebug"
    mkdir -p "$work/pc-build"
    # shellcheck disable=SC2086
    g++ -std=c++17 -o "$work/pc-build/consumer" "$here/consumer/consumer.cpp" $flags ||
        fail "build with: $flags"
    echo "$work/pc-build/consumer"
}

installed_tree() {
    cmake --install "$build" --prefix "$work/staged" >/dev/null
    mv "$work/staged" "$work/moved"
    check_runpaths "$work/moved"
    echo "$work/moved"
}

case $mode in
    cmake)
        prefix=$(installed_tree)
        run_consumer "$prefix" "$(build_with_cmake "$prefix")"
        ;;
    pkgconfig)
        prefix=$(installed_tree)
        [ "$(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --modversion utilDebug)" = 1.0.0 ] ||
            fail "pkg-config --modversion"
        run_consumer "$prefix" "$(build_with_pkgconfig "$prefix")"
        ;;
    package)
        (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1) ||
            { cat "$work/cpack.log"; fail "cpack failed"; }
        deb=$(ls "$work"/pkg/*.deb)
        depends=$(dpkg-deb -f "$deb" Depends)
        for dependency in liblog4cxx15 libsqlite3-0; do
            [[ $depends == *"$dependency"* ]] || fail "Depends lacks $dependency: $depends"
        done
        contents=$(dpkg-deb -c "$deb")
        for path in usr/lib/libutilDebug.so.1 usr/lib/libnlplatform.so.1 usr/lib/libnlclusapi.so.1 \
            usr/include/utilDebug.h usr/bin/qpreg usr/bin/qpdbgview usr/bin/qpdebug \
            usr/share/man/man1/qpdebug.1.gz usr/share/bash-completion/completions/qpdebug \
            usr/share/man/man1/qpreg.1.gz usr/share/man/man1/qpdbgview.1.gz usr/share/bash-completion/completions/qpreg \
            usr/share/doc/utildebug/settings.md usr/lib/cmake/utilDebug/utilDebugConfig.cmake \
            usr/lib/pkgconfig/utilDebug.pc; do
            [[ $contents == *"./$path"* ]] || fail "the package lacks $path"
        done
        dpkg-deb -x "$deb" "$work/root"
        check_runpaths "$work/root"
        run_consumer "$work/root/usr" "$(build_with_cmake "$work/root/usr")"
        ;;
    subproject)
        mkdir -p "$work/parent"
        cp "$here/consumer/consumer.cpp" "$work/parent/"
        cat >"$work/parent/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(parent LANGUAGES C CXX)
add_subdirectory("$source" utildebug)
add_executable(consumer consumer.cpp)
target_link_libraries(consumer PRIVATE utilDebug::utilDebug)
CMAKE
        cmake -S "$work/parent" -B "$work/plain" "${generator[@]}" >"$work/plain.log" 2>&1 ||
            { cat "$work/plain.log"; fail "configuring a parent project failed"; }
        [ -d "$work/plain/utildebug/src/utility/utilDebug" ] || fail "the library is not configured"
        for folder in tools tests examples bench; do
            [ ! -e "$work/plain/utildebug/$folder" ] || fail "$folder configured without being asked for"
        done
        ! grep -rq --include=cmake_install.cmake "libutilDebug" "$work/plain/utildebug" ||
            fail "install rules generated without being asked for"
        cmake -S "$work/parent" -B "$work/tools" "${generator[@]}" -DUTILDEBUG_BUILD_TOOLS=ON >/dev/null 2>&1
        [ -d "$work/tools/utildebug/tools/qpreg" ] || fail "UTILDEBUG_BUILD_TOOLS=ON does not configure qpreg"
        ;;
    *)
        fail "unknown mode $mode"
        ;;
esac
echo "ok: $mode"
