#!/bin/sh
# fleet.sh PROBE QPREG
#
# A cluster's debug records collected on one machine, played on this one with
# loopback addresses only (docs/journal.md describes the real set-up):
#
#   node:      a process logs with DebugLogDestination "journal" to its node's
#              journald (a journald of this script's own, in a mount namespace
#              of its own: scripts/with-journald.sh);
#   upload:    systemd-journal-upload sends the node's journal over HTTP;
#   collector: systemd-journal-remote, listening on 127.0.0.1, writes what it
#              receives into journal files of its own, one per node;
#
# and then queries the collector's journal by node, process, logger and
# priority. PROBE is a program that logs the commands it reads (the tests'
# log_probe), QPREG the registry tool. Needs root; exits 77 when the private
# journald cannot be started. Set FLEET_KEEP=1 to keep the scratch folder.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
with_journald="$here/../scripts/with-journald.sh"
[ -x "$with_journald" ] || with_journald=$(command -v with-journald.sh || true)

# ---- Inside the node's namespace, beside its journald -----------------------------
if [ "${FLEET_STAGE:-}" = node ]; then
    # The process of the node logs: the records go to the node's journal.
    printf 'level 272 Replicate\nlevel 258 copied 12 blocks\nlevel 4097 peer slow\nlevel 4098 peer lost\nlevel 273 Replicate\n' |
        "$FLEET_SCRATCH/replicator"
    journalctl --sync
    # The node uploads its journal to the collector, as systemd-journal-upload.service
    # does (there it follows the journal; here it sends what is there and ends).
    /lib/systemd/systemd-journal-upload --url="http://127.0.0.1:$FLEET_PORT" --follow=no \
        --save-state="$FLEET_SCRATCH/upload.state" -D "$FLEET_SCRATCH/node/journal"
    exit 0
fi

if [ $# -ne 2 ]; then
    echo "usage: fleet.sh PROBE QPREG" >&2
    exit 2
fi
probe=$1 qpreg=$2
for tool in /lib/systemd/systemd-journal-remote /lib/systemd/systemd-journal-upload; do
    if [ ! -x "$tool" ]; then
        echo "fleet.sh: $tool is missing (install systemd-journal-remote)" >&2
        exit 77
    fi
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/fleet.XXXXXX")
remote_pid=
cleanup() {
    [ -n "$remote_pid" ] && kill "$remote_pid" 2>/dev/null && wait "$remote_pid" 2>/dev/null
    [ "${FLEET_KEEP:-}" = 1 ] && echo "kept $scratch" || rm -rf "$scratch"
}
trap cleanup EXIT

# The node's settings: the process "replicator" logs everything, to the journal.
export NL_REGISTRY_FILE="$scratch/registry.db" TMPDIR="$scratch/tmp"
mkdir -p "$TMPDIR" "$scratch/collector"
key='HKLM\SOFTWARE\Norlake\Quillpost\CurrentVersion'
"$qpreg" add "$key" /v DebugModule /t REG_SZ /d "replicator:1" /f >/dev/null
"$qpreg" add "$key" /v DebugLevel /t REG_DWORD /d 3 /f >/dev/null
"$qpreg" add "$key" /v DebugLogDestination /t REG_SZ /d journal /f >/dev/null
cp "$probe" "$scratch/replicator"

# The collector, on a free loopback port.
port=
for try in 1 2 3 4 5 6 7 8; do
    candidate=$((20000 + ($$ * 7 + try * 1013) % 40000))
    /lib/systemd/systemd-journal-remote --listen-http="127.0.0.1:$candidate" --output="$scratch/collector/" \
        >"$scratch/remote.log" 2>&1 &
    remote_pid=$!
    sleep 0.3
    if kill -0 "$remote_pid" 2>/dev/null; then
        port=$candidate
        break
    fi
    wait "$remote_pid" 2>/dev/null || true
    remote_pid=
done
if [ -z "$port" ]; then
    echo "fleet.sh: systemd-journal-remote did not start:" >&2
    cat "$scratch/remote.log" >&2
    exit 1
fi

status=0
FLEET_STAGE=node FLEET_SCRATCH="$scratch" FLEET_PORT="$port" "$with_journald" "$scratch/node" "$0" || status=$?
[ $status -eq 77 ] && exit 77
[ $status -eq 0 ] || { echo "fleet.sh: the node's part failed ($status)" >&2; exit 1; }

# The collector writes what it received when it stops.
kill "$remote_pid"
wait "$remote_pid" 2>/dev/null || true
remote_pid=

# ---- On the collector: query by node, process, logger and priority ----------------------
node=$(hostname)
query() {
    journalctl --no-pager -D "$scratch/collector" "$@"
}
echo "== the replicator's warnings and worse from node $node"
query -o short-iso _HOSTNAME="$node" SYSLOG_IDENTIFIER=replicator QUILLPOST_LOGGER=replicator -p warning
found=$(query -o json _HOSTNAME="$node" SYSLOG_IDENTIFIER=replicator QUILLPOST_LOGGER=replicator -p warning)
count=$(printf '%s\n' "$found" | grep -c '"MESSAGE"' || true)
fail() {
    echo "FAIL: $*" >&2
    query -o json SYSLOG_IDENTIFIER=replicator >&2 || true
    exit 1
}
[ "$count" -eq 2 ] || fail "expected 2 records of priority warning or worse, found $count"
for field in '"MESSAGE":"peer slow"' '"MESSAGE":"peer lost"' '"PRIORITY":"4"' '"PRIORITY":"3"' \
    '"QUILLPOST_LEVEL_CODE":"4097"' '"QUILLPOST_LEVEL_CODE":"4098"' '"CODE_FILE":"log_probe.cpp"'; do
    printf '%s\n' "$found" | grep -q "$field" || fail "no $field on the collector"
done
all=$(query -o cat SYSLOG_IDENTIFIER=replicator)
[ "$all" = "==> Replicate
copied 12 blocks
peer slow
peer lost
<== Replicate" ] || fail "the node's records on the collector: $all"
echo "the node's records reached the collector with their fields"
