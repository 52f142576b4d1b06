#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when missing.
set -euo pipefail

# The tests also run script (bsdutils) to give qpreg a terminal, setpriv
# (util-linux) to drop privileges, readelf and nm (binutils) on the built
# libraries; make package builds the Debian packages with dpkg-buildpackage
# and debhelper (dpkg-dev, debhelper) and checks them with lintian. The
# journal's tests start systemd-journald (systemd) and read it with
# journalctl; the fleet example runs systemd-journal-remote and
# systemd-journal-upload; lnav reads the logs.
packages=(cmake ninja-build g++ binutils pkg-config liblog4cxx-dev libsqlite3-dev sqlite3
          googletest libgtest-dev libgmock-dev libbenchmark-dev bsdutils util-linux dpkg
          dpkg-dev debhelper lintian libxml2-dev
          clang libclang-rt-14-dev
          pacemaker-dev pacemaker-common
          libspdlog-dev nlohmann-json3-dev
          libsystemd-dev systemd systemd-journal-remote lnav hostname)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
        sudo apt-get update && sudo DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
        exit 0
    fi
    echo "error: these packages are missing and installing them needs root: ${missing[*]}" >&2
    echo "       run: apt-get install -y ${missing[*]}" >&2
    exit 1
fi
apt-get update || true
DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
