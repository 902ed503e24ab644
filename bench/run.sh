#!/bin/sh
# Builds and runs the benchmarks under Wine in the runnable build and prints
# their figures. TRAVEK_BUILD_ROOT chooses the build root, as for the tests.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
run_build=$("$root/scripts/build.sh")
. "$root/scripts/wine-env.sh"
"$WINE" "$run_build/bin/effects_bench.exe"
