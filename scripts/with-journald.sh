#!/bin/sh
# with-journald.sh [--no-journald] DIR COMMAND [ARG...]
#
# Runs COMMAND in a mount namespace of its own in which a systemd-journald of
# its own listens on the usual sockets (/run/systemd/journal/socket) and keeps
# its journal in DIR/journal, where `journalctl -D DIR/journal` reads it
# afterwards. The machine's own journal is never touched: /run/systemd,
# /run/log and /var/log/journal are covered by private mounts first. With
# --no-journald the sockets' folder is empty: the journal cannot be reached.
#
# Needs root and unshare(1). When the namespace cannot be made it says why on
# standard error and exits with 77 (the usual "skipped" status).
set -eu

start_journald=1
if [ "${1:-}" = "--no-journald" ]; then
    start_journald=0
    shift
fi
if [ $# -lt 2 ]; then
    echo "usage: with-journald.sh [--no-journald] DIR COMMAND [ARG...]" >&2
    exit 2
fi

if [ "${NL_IN_PRIVATE_JOURNAL:-}" != 1 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "with-journald.sh: a private journald needs root (a mount namespace of its own)" >&2
        exit 77
    fi
    if ! unshare -m --propagation private true 2>/dev/null; then
        echo "with-journald.sh: this machine does not allow a mount namespace (unshare -m failed)" >&2
        exit 77
    fi
    journald=/lib/systemd/systemd-journald
    if [ "$start_journald" = 1 ] && [ ! -x "$journald" ]; then
        echo "with-journald.sh: $journald is missing (install the systemd package)" >&2
        exit 77
    fi
    mkdir -p "$1/journal"
    dir=$(cd "$1" && pwd)
    shift
    export NL_IN_PRIVATE_JOURNAL=1
    if [ "$start_journald" = 1 ]; then
        exec unshare -m --propagation private "$0" "$dir" "$@"
    else
        exec unshare -m --propagation private "$0" --no-journald "$dir" "$@"
    fi
fi

# Inside the namespace.
dir=$1
shift
unset NL_IN_PRIVATE_JOURNAL

# A tmpfs over the deepest folder that exists, then the folders below it.
cover() {
    at=$1
    while [ ! -d "$at" ]; do at=$(dirname "$at"); done
    mount -t tmpfs -o mode=0755 tmpfs "$at"
    mkdir -p "$1"
}
cover /run/systemd/journal
cover /run/log/journal
mount --bind "$dir/journal" /run/log/journal
[ -d /var/log/journal ] && mount -t tmpfs -o mode=0755 tmpfs /var/log/journal

journald_pid=
stop_journald() {
    if [ -n "$journald_pid" ]; then
        kill "$journald_pid" 2>/dev/null || true
        wait "$journald_pid" 2>/dev/null || true
    fi
}
trap stop_journald EXIT

# A systemd host lets a datagram socket queue 512 entries (its sysctl.d), the
# kernel 10: set as systemd sets it, before journald makes its socket, which
# takes the value then. A burst of a few dozen records then waits for no one.
qlen=/proc/sys/net/unix/max_dgram_qlen
if [ -w "$qlen" ] && [ "$(cat "$qlen")" -lt 512 ]; then echo 512 >"$qlen" 2>/dev/null || true; fi

if [ "$start_journald" = 1 ]; then
    # Its own messages go to its standard error, not the kernel's log.
    SYSTEMD_LOG_TARGET=console /lib/systemd/systemd-journald >"$dir/journald.log" 2>&1 &
    journald_pid=$!
    waited=0
    while [ ! -S /run/systemd/journal/socket ]; do
        waited=$((waited + 1))
        if [ $waited -gt 200 ]; then
            echo "with-journald.sh: journald did not start; its output:" >&2
            cat "$dir/journald.log" >&2
            exit 1
        fi
        sleep 0.05
    done
fi

status=0
"$@" || status=$?
# What was sent is on disk before journalctl reads it.
[ -n "$journald_pid" ] && journalctl --sync >/dev/null 2>&1 || true
exit $status
