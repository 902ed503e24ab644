#!/bin/sh
# Installs what is missing, builds, and starts the test bench under Wine on the
# simulated port. Closing its window ends it.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
run_build=$("$root/scripts/build.sh")
TRAVEK_KEEP_DISPLAY=1
. "$root/scripts/wine-env.sh"
echo "Display $DISPLAY"
"$WINE" "$run_build/bin/Travek.exe"
