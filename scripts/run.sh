#!/bin/sh
# Installs what is missing, builds, and starts the test bench and the virtual
# bench side by side under Wine, both on the simulated port. Closing the test
# bench ends the run; the virtual bench is closed with it.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
run_build=$("$root/scripts/build.sh")
TRAVEK_KEEP_DISPLAY=1
. "$root/scripts/wine-env.sh"
echo "Display $DISPLAY"
cd "$run_build/bin"
"$WINE" vbench.exe &
vbench_pid=$!
"$WINE" Travek.exe
kill "$vbench_pid" 2>/dev/null || true
