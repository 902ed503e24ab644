#!/bin/sh
# The number box over COUNT generated texts (default 10000), typed and pasted
# into the real window under Wine, each checked against the rule, the program
# asked to answer between texts; then a summary. A second argument replays
# the seed a failed run printed.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-10000}
[ $# -gt 0 ] && shift
case "$count" in ''|*[!0-9]*) echo "numberbox.sh: COUNT must be a number" >&2; exit 2;; esac
run_build=$("$root/scripts/build.sh" numberbox_scale)
. "$root/scripts/wine-env.sh"
status=0
"$WINE" "$run_build/bin/numberbox_scale.exe" "$count" "$@" || status=$?
exit $status
