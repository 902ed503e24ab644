#!/bin/sh
# Checks the fixture: the command runs with the mount answering and its exit
# status comes back; afterwards nothing is left (mount, folder, server), also
# when the fixture itself is killed outright; a server that cannot start fails
# the fixture at once; a mount the machine refuses skips the command.
fixture=$1
server=$2
fail() { echo "FAIL: $*"; exit 1; }
unserved() {  # waits (bounded) until no mount or server of the folder $1 is left
    for _ in $(seq 100); do
        if ! grep -q " $1 " /proc/mounts && ! pgrep -f "emuport $1\$" >/dev/null; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}
out=$(mktemp)
trap 'rm -f "$out"' EXIT

sh "$fixture" "$server" -- sh -c 'echo "$TRAVEK_EMUPORT"; grep "^fault" "$TRAVEK_EMUPORT/parport0.ctl"; exit 3' >"$out"
status=$?
[ $status -eq 77 ] && { cat "$out"; exit 77; }
[ $status -eq 3 ] || fail "exit status $status instead of the command's 3"
dir=$(head -n 1 "$out")
grep -qx "fault normal" "$out" || fail "the mount did not answer during the command"
unserved "$dir" && [ ! -e "$dir" ] || fail "$dir left behind after a normal end"

sh "$fixture" "$server" -- sh -c 'echo "$TRAVEK_EMUPORT"; echo $$; exec sleep 30' >"$out" &
fixture_pid=$!
for _ in $(seq 200); do [ "$(wc -l <"$out")" -ge 2 ] && break; sleep 0.1; done
dir=$(head -n 1 "$out")
command_pid=$(sed -n 2p "$out")
[ -n "$command_pid" ] || { kill "$fixture_pid"; fail "the command did not start within 20 s"; }
kill -9 "$fixture_pid"
[ -n "$command_pid" ] && kill "$command_pid" 2>/dev/null
unserved "$dir" || fail "$dir mounted or served after the fixture was killed"
rmdir "$dir"
rm -f "$dir.log"

start=$(date +%s)
sh "$fixture" /bin/false -- true >/dev/null 2>&1
status=$?
[ $status -ne 0 ] && [ $status -ne 77 ] || fail "a server that cannot start gave status $status"
[ $(( $(date +%s) - start )) -lt 10 ] || fail "a server that cannot start held the fixture"
# A machine where the mount is refused: the command is skipped, not passed.
fake=$(mktemp)
printf '#!/bin/sh\necho "fuse: device not found, try '"'"'modprobe fuse'"'"' first" >&2\nexit 1\n' >"$fake"
chmod +x "$fake"
sh "$fixture" "$fake" -- sh -c 'echo ran' >"$out" 2>&1
status=$?
rm -f "$fake"
[ $status -eq 77 ] || fail "a refused mount gave status $status instead of 77 (skip)"
grep -q "^SKIP: " "$out" || fail "a refused mount said no SKIP line"
grep -qx "ran" "$out" && fail "the command ran without the mount"

echo "fixture: status passed through, cleaned up after a normal end and after a kill"
