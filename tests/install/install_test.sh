#!/usr/bin/env bash
# The project as its users get it: installed with cmake --install, packaged
# as a .deb, or taken in by another project with add_subdirectory.
#
#   install_test.sh tree|package|subproject BUILD_DIR SOURCE_DIR
#
# tree: installs the build into a scratch prefix, moves the tree elsewhere
#   (it must not depend on where it was installed), checks that no RUNPATH
#   names the build machine's folders and that the docs' links hold, then
#   builds the consumer against it through find_package and through
#   pkg-config (--define-prefix, as for any moved tree) and runs each, with
#   settings made by the installed qpreg.
# package: builds the Debian packages (scripts/build-packages.sh), runs
#   lintian, checks what each package holds and depends on, unpacks them into
#   a scratch root, runs the common package's install and purge scripts there,
#   builds the consumer through CMake and pkg-config against that root, and
#   resolves its dependencies with dpkg-shlibdeps.
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
        # Scripts (the installed examples) have no dynamic section: readelf fails on them.
        runpath=$(readelf -d "$file" 2>/dev/null | sed -n 's/.*(R\(UN\)\?PATH).*\[\(.*\)\]/\2/p' || true)
        [ -z "$runpath" ] && continue
        case $runpath in
            *"$build"* | *"$source"*) fail "$file: RUNPATH names the build tree: $runpath" ;;
            \$ORIGIN*) ;;
            *) fail "$file: RUNPATH is not relative to the file: $runpath" ;;
        esac
    done < <(find "$tree" -type f \( -name '*.so*' -o -perm -u+x \))
}

# Every relative link of the installed README and docs names a file that is
# installed.
check_doc_links() {
    local docdir=$1 doc target
    [ -f "$docdir/README.md" ] || fail "no README.md in $docdir"
    while IFS= read -r doc; do
        while IFS= read -r target; do
            [ -e "$(dirname "$doc")/$target" ] || fail "$doc links to $target, which is not installed"
        done < <(grep -o '](\([^)#:]*\)' "$doc" | sed 's/^](//' | grep -v '^$')
    done < <(find "$docdir" -name '*.md')
    [ "$(find "$docdir/docs" -name '*.md' | wc -l)" -eq "$(find "$source/docs" -name '*.md' | wc -l)" ] ||
        fail "not every doc of docs/ is installed in $docdir/docs"
}

# Sets the consumer's settings with the tree's qpreg, runs it (with the
# library folder as LD_LIBRARY_PATH, unless it is given as ""), and expects
# its record in the log file.
run_consumer() {
    local prefix=$1 consumer=$2 libdir=${3-$1/lib}
    export NL_REGISTRY_FILE=$work/registry.db
    local key='HKLM\SOFTWARE\Norlake\Quillpost\CurrentVersion'
    mkdir -p "$work/home"
    "$prefix/bin/qpreg" add "$key" /v HomeDir /d "$work/home" /f >/dev/null || fail "installed qpreg does not run"
    "$prefix/bin/qpreg" add "$key" /v DebugModule /d "consumer=1" /f >/dev/null
    local output
    if [ -n "$libdir" ]; then
        output=$(LD_LIBRARY_PATH=$libdir "$consumer") || fail "the consumer failed: $output"
    else
        output=$("$consumer") || fail "the consumer failed: $output"
    fi
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

# pkg-config's flags for the tree under $1, built with the options that follow.
build_with_pkgconfig() {
    local prefix=$1 flags
    shift
    flags=$(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config "$@" --cflags --libs utilDebug) ||
        fail "pkg-config does not find utilDebug"
    mkdir -p "$work/pc-build"
    # shellcheck disable=SC2086
    g++ -std=c++17 -o "$work/pc-build/consumer" "$here/consumer/consumer.cpp" $flags ||
        fail "build with: $flags"
    echo "$work/pc-build/consumer"
}

installed_tree() {
    cmake --install "$build" --prefix "$work/staged" >/dev/null
    # utilDebug.pc names the prefix it was installed under.
    grep -qx "prefix=$work/staged" "$work/staged/lib/pkgconfig/utilDebug.pc" ||
        fail "utilDebug.pc does not name its install prefix: $(head -1 "$work/staged/lib/pkgconfig/utilDebug.pc")"
    mv "$work/staged" "$work/moved"
    check_runpaths "$work/moved"
    check_doc_links "$work/moved/share/doc/utildebug"
    echo "$work/moved"
}

# Checks that each Debian package holds what it must, and depends on what it
# must.
check_packages() {
    local pkg=$1 multiarch=$2 deb path contents
    declare -A holds=(
        [libutildebug1]="usr/lib/$multiarch/libutilDebug.so.1 usr/lib/$multiarch/libnlplatform.so.1
                         usr/lib/$multiarch/libnlclusapi.so.1"
        [libutildebug-dev]="usr/include/utilDebug.h usr/lib/$multiarch/libutilDebug.so
                            usr/lib/$multiarch/pkgconfig/utilDebug.pc
                            usr/lib/$multiarch/cmake/utilDebug/utilDebugConfig.cmake"
        [utildebug-tools]="usr/bin/qpreg usr/bin/qpdbgview usr/bin/qpdebug usr/share/man/man1/qpreg.1.gz
                           usr/share/man/man1/qpdbgview.1.gz usr/share/man/man1/qpdebug.1.gz
                           usr/share/bash-completion/completions/qpreg usr/share/bash-completion/completions/qpdebug
                           usr/share/bash-completion/completions/qpdbgview"
        [utildebug]="usr/lib/tmpfiles.d/utildebug.conf usr/share/doc/utildebug/README.md
                     usr/share/doc/utildebug/docs/settings.md usr/share/doc/utildebug/copyright
                     etc/lnav/formats/quillpost/quillpost_debug_log.json"
    )
    for name in "${!holds[@]}"; do
        deb=$(ls "$pkg/${name}_"*.deb 2>/dev/null) || fail "no package $name"
        contents=$(dpkg-deb -c "$deb")
        for path in ${holds[$name]}; do
            grep -q " \./$path\( \|$\)" <<<"$contents" || fail "$name lacks $path"
        done
    done
    # No link name or header in the runtime package.
    contents=$(dpkg-deb -c "$pkg"/libutildebug1_*.deb)
    ! grep -q '\.so \|\.h$' <<<"$contents" || fail "libutildebug1 holds development files"
    [ "$(dpkg-deb -f "$pkg"/libutildebug1_*.deb Multi-Arch)" = same ] || fail "libutildebug1 is not Multi-Arch: same"
    local depends
    depends=$(dpkg-deb -f "$pkg"/libutildebug1_*.deb Depends)
    for dependency in liblog4cxx15 libsqlite3-0 utildebug; do
        [[ $depends == *"$dependency"* ]] || fail "libutildebug1's Depends lacks $dependency: $depends"
    done
    # Pacemaker's libraries are needed only by a process that opens a cluster.
    [[ $depends != *libcib* ]] || fail "libutildebug1 depends on Pacemaker: $depends"
    [[ $(dpkg-deb -f "$pkg"/libutildebug1_*.deb Recommends) == *libcib* ]] || fail "libutildebug1 does not recommend libcib"
    [[ $(dpkg-deb -f "$pkg"/libutildebug-dev_*.deb Depends) == *"libutildebug1 (= "* ]] ||
        fail "libutildebug-dev does not depend on its libutildebug1"
    dpkg-deb -I "$pkg"/libutildebug1_*.deb shlibs | grep -q '^libutilDebug 1 libutildebug1 (>= ' ||
        fail "libutildebug1 has no shlibs entry for libutilDebug.so.1"
    dpkg-deb -I "$pkg"/libutildebug1_*.deb triggers | grep -q 'ldconfig' || fail "libutildebug1 has no ldconfig trigger"
    local version
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
    [ "$(dpkg-deb -f "$pkg"/libutildebug1_*.deb Version)" = "$version" ] ||
        fail "debian/changelog's version is not the project's $version"
}

# The common package's folders: made by its postinst, removed by a purge.
check_folders() {
    local root=$1 folder
    dpkg-deb -e "$pkg_dir"/utildebug_*.deb "$work/utildebug.control"
    DPKG_ROOT=$root "$work/utildebug.control/postinst" configure >/dev/null 2>&1 ||
        fail "utildebug's postinst failed"
    for folder in var/lib/norlake run/norlake; do
        [ -d "$root/$folder" ] || fail "the postinst did not make /$folder"
        [ "$(stat -c %a "$root/$folder")" = 755 ] || fail "/$folder has mode $(stat -c %a "$root/$folder")"
    done
    touch "$root/var/lib/norlake/registry.db"
    DPKG_ROOT=$root "$work/utildebug.control/postrm" remove >/dev/null 2>&1 || fail "utildebug's postrm remove failed"
    [ -e "$root/var/lib/norlake/registry.db" ] || fail "removing (not purging) deleted the registry"
    DPKG_ROOT=$root "$work/utildebug.control/postrm" purge >/dev/null 2>&1 || fail "utildebug's postrm purge failed"
    for folder in var/lib/norlake run/norlake; do
        [ ! -e "$root/$folder" ] || fail "purging left /$folder"
    done
}

case $mode in
    tree)
        prefix=$(installed_tree)
        run_consumer "$prefix" "$(build_with_cmake "$prefix")"
        rm -rf "$work/home"
        [ "$(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --modversion utilDebug)" = 1.0.0 ] ||
            fail "pkg-config --modversion"
        # The flags carry the library folder as the run path: the program starts as the README says.
        run_consumer "$prefix" "$(build_with_pkgconfig "$prefix" --define-prefix)" ""
        ;;
    package)
        multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
        # UTILDEBUG_PACKAGES names packages already built from this tree
        # (make package), to check them without building them again.
        pkg_dir=${UTILDEBUG_PACKAGES:-$work/pkg}
        [ -n "${UTILDEBUG_PACKAGES:-}" ] || "$source/scripts/build-packages.sh" "$pkg_dir" 2 >/dev/null
        lintian --fail-on error,warning "$pkg_dir"/*.changes >"$work/lintian.log" 2>&1 ||
            { cat "$work/lintian.log"; fail "lintian"; }
        check_packages "$pkg_dir" "$multiarch"
        root=$work/root
        for deb in "$pkg_dir"/*.deb; do
            [[ $deb == *-dbgsym_* ]] || dpkg-deb -x "$deb" "$root"
        done
        check_runpaths "$root"
        check_doc_links "$root/usr/share/doc/utildebug"
        check_folders "$root"
        libdir=$root/usr/lib/$multiarch
        run_consumer "$root/usr" "$(build_with_cmake "$root/usr")" "$libdir"
        # pkg-config leaves the system folders out of the flags.
        flags=$(PKG_CONFIG_LIBDIR=$libdir/pkgconfig pkg-config --cflags --libs utilDebug | sed "s/ *$//")
        [ "$flags" = "-lutilDebug" ] || fail "pkg-config gives system folders: $flags"
        rm -rf "$work/home"
        run_consumer "$root/usr" "$(PKG_CONFIG_SYSROOT_DIR=$root PKG_CONFIG_ALLOW_SYSTEM_CFLAGS=1 \
            PKG_CONFIG_ALLOW_SYSTEM_LIBS=1 build_with_pkgconfig "$libdir/.." --with-path="$libdir/pkgconfig")" "$libdir"
        # dpkg-shlibdeps takes libutildebug1's shlibs file from the unpacked
        # package (a DEBIAN folder above the library).
        dpkg-deb -R "$pkg_dir"/libutildebug1_*.deb "$work/runtime"
        mkdir -p "$work/shlibdeps/debian"
        printf 'Source: consumer\n\nPackage: consumer\nArchitecture: any\n' >"$work/shlibdeps/debian/control"
        shlibdeps=$(cd "$work/shlibdeps" && dpkg-shlibdeps -O -l"$work/runtime/usr/lib/$multiarch" \
            "$work/pc-build/consumer" 2>&1) || fail "dpkg-shlibdeps: $shlibdeps"
        [[ $shlibdeps == *"libutildebug1 (>= "* ]] || fail "dpkg-shlibdeps does not name libutildebug1: $shlibdeps"
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
file(GENERATE OUTPUT include-dirs.txt
     CONTENT "\$<JOIN:\$<TARGET_PROPERTY:utilDebug,INTERFACE_INCLUDE_DIRECTORIES>,\n>\n")
CMAKE
        cmake -S "$work/parent" -B "$work/plain" "${generator[@]}" >"$work/plain.log" 2>&1 ||
            { cat "$work/plain.log"; fail "configuring a parent project failed"; }
        [ -d "$work/plain/utildebug/src/utility/utilDebug" ] || fail "the library is not configured"
        for folder in tools tests examples bench; do
            [ ! -e "$work/plain/utildebug/$folder" ] || fail "$folder configured without being asked for"
        done
        ! grep -rq --include=cmake_install.cmake "libutilDebug" "$work/plain/utildebug" ||
            fail "install rules generated without being asked for"
        # The consumer's include path holds the public header and no internal one.
        public=0
        while read -r dir; do
            [ -z "$dir" ] && continue
            [ ! -e "$dir/FeatureConfig.h" ] || fail "a consumer can include internal headers from $dir"
            [ ! -e "$dir/utilDebug.h" ] || public=1
        done <"$work/plain/include-dirs.txt"
        [ "$public" = 1 ] || fail "utilDebug.h is not on a consumer's include path"
        cmake -S "$work/parent" -B "$work/tools" "${generator[@]}" -DUTILDEBUG_BUILD_TOOLS=ON >/dev/null 2>&1
        [ -d "$work/tools/utildebug/tools/qpreg" ] || fail "UTILDEBUG_BUILD_TOOLS=ON does not configure qpreg"
        ;;
    *)
        fail "unknown mode $mode"
        ;;
esac
echo "ok: $mode"
