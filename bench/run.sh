#!/bin/sh
# Builds the benchmark in the runnable build, runs it under Wine, prints its
# table and keeps it in a file: the path given as first argument, or
# bench-results.txt in the build folder. TRAVEK_BUILD_ROOT chooses the build
# root, as for the tests. Takes a little over a minute once built.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
run_build=$("$root/scripts/build.sh" travek_bench)  # the tests need not build for it
out=${1:-$run_build/bench-results.txt}

. "$root/scripts/wine-env.sh"
mkdir -p "$(dirname "$out")"
"$WINE" "$run_build/bin/travek_bench.exe" >"$out.part"
mv "$out.part" "$out"
cat "$out"
echo
echo "Table written to $out"
