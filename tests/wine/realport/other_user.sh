#!/bin/sh
# Usage: other_user.sh STATEFILE HELPER RESULT
# What a second user (uid 65534) can do with the bridge files of a session:
# writes one line per check into RESULT (made whole at once, for a caller
# that polls for it): the file's and its folder's mode and owner, then
# "refused" or "ALLOWED" for reading, changing and mapping through the
# helper, and the helper's exit code when that user starts it on the file.
state=$1
helper=$2
result=$3
other() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@" 2>/dev/null; }
verdict() { if "$@"; then echo ALLOWED; else echo refused; fi; }
{
    echo "file $(stat -c '%a %u' "$state")"
    echo "folder $(stat -c '%a %u' "$(dirname "$state")")"
    echo "read $(verdict other sh -c "cat '$state' >/dev/null")"
    echo "change $(verdict other sh -c "echo x >>'$state'")"
    other "$helper" "$state" >/dev/null
    echo "helper $?"
} >"$result.part" 2>&1
mv "$result.part" "$result"
