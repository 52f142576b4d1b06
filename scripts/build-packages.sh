#!/usr/bin/env bash
# Builds the Debian packages with dpkg-buildpackage from a copy of the source
# tree, so that the tree itself stays clean:
#
#   scripts/build-packages.sh OUT_DIR [JOBS]
#
# leaves the .deb files, the .changes and the .buildinfo in OUT_DIR, with
# the package build's log in OUT_DIR/build.log.
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
out=$1 jobs=${2:-$(nproc)}
mkdir -p "$out"
out=$(cd "$out" && pwd)

# dpkg-buildpackage writes its results beside the tree it builds.
rm -rf "$out/src" "$out"/*.deb "$out"/*.changes "$out"/*.buildinfo
mkdir -p "$out/src"
if git -C "$source" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    (cd "$source" && git ls-files -z --cached --others --exclude-standard |
        while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
        tar --null -T - -cf -) | tar -xf - -C "$out/src"
else
    tar -C "$source" --exclude='./build*' --exclude='./obj-*' -cf - . | tar -xf - -C "$out/src"
fi

echo "Building the Debian packages in $out (log: $out/build.log)"
if ! (cd "$out/src" && DEB_BUILD_OPTIONS="parallel=$jobs ${DEB_BUILD_OPTIONS:-}" \
    dpkg-buildpackage -b -us -uc >"$out/build.log" 2>&1); then
    tail -40 "$out/build.log" >&2
    echo "error: dpkg-buildpackage failed; the whole log is $out/build.log" >&2
    exit 1
fi
rm -rf "$out/src"
ls "$out"/*.deb
