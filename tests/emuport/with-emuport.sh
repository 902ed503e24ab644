#!/bin/sh
# Usage: with-emuport.sh EMUPORT [SERVER OPTIONS] -- COMMAND [ARGS]
# Mounts the emulated parallel port in a fresh folder, waits until it answers,
# runs the command with TRAVEK_EMUPORT=<folder>, then unmounts and stops the
# server whatever happened. Exits with the command's status, or 77 (skip) when
# FUSE cannot be mounted on this machine.
server=$1
shift
options=""
while [ $# -gt 0 ] && [ "$1" != "--" ]; do options="$options $1"; shift; done
[ "$1" = "--" ] && shift
if [ -z "$server" ] || [ $# -eq 0 ]; then
    echo "usage: with-emuport.sh EMUPORT [OPTIONS] -- COMMAND [ARGS]" >&2
    exit 2
fi
skip() { echo "SKIP: the emulated parallel port cannot be mounted here: $1"; exit 77; }
[ -c /dev/fuse ] || skip "no /dev/fuse"
command -v fusermount3 >/dev/null 2>&1 || skip "no fusermount3 (Debian package fuse3)"

dir=$(mktemp -d "${TMPDIR:-/tmp}/emuport.XXXXXX") || exit 1
log="$dir.log"
pid=""
cleanup() {
    fusermount3 -u "$dir" 2>/dev/null || fusermount3 -uz "$dir" 2>/dev/null
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null
        for _ in 1 2 3 4 5 6 7 8 9 10; do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null
    fi
    rmdir "$dir" 2>/dev/null
    rm -f "$log"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# shellcheck disable=SC2086
"$server" $options "$dir" >"$log" 2>&1 &
pid=$!
ready=""
for _ in $(seq 150); do  # 15 s: a loaded machine starts the server slowly
    if ! kill -0 "$pid" 2>/dev/null; then break; fi
    if mountpoint -q "$dir" && timeout 2 grep -q '^device ' "$dir/parport0.ctl" 2>/dev/null; then
        ready=1
        break
    fi
    sleep 0.1
done
if [ -z "$ready" ]; then
    cat "$log" >&2
    grep -qiE '/dev/fuse|mount failed|device not found|not permitted|permission denied' "$log" &&
        skip "the mount was refused (see above)"
    echo "The emulated parallel port did not answer within 15 s." >&2
    exit 1
fi
TRAVEK_EMUPORT=$dir "$@"
status=$?
exit $status
