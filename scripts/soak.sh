#!/bin/sh
# Soak of the program under Wine: K2000 and Chenillard running, random clicks
# on every button and random status changes for SECONDS (default 600), then a
# summary. Further arguments go to the soak: the seed a failed run printed, to
# replay it, then the step delay in ms. TRAVEK_BUILD_ROOT chooses the build
# root, as for the tests.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
[ $# -gt 0 ] && shift
run_build=$("$root/scripts/build.sh" soak)
. "$root/scripts/wine-env.sh"
status=0
"$WINE" "$run_build/bin/soak.exe" "$seconds" "$@" || status=$?
exit $status
