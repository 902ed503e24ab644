#!/bin/sh
# Builds the benchmark in the runnable build, runs it under Wine, prints its
# table and keeps it in a file: the path given as first argument, or
# bench-results.txt in the build folder. Beside it, the same name ending in
# .tsv holds one figure a line (name, value, unit, tab-separated) for
# comparing runs by script. TRAVEK_BUILD_ROOT chooses the build root, as for
# the tests. Takes about four minutes once built. A second argument runs only
# the parts it lists: effects, program, startup, vbench, separated by commas.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
run_build=$("$root/scripts/build.sh" travek_bench)  # the tests need not build for it
out=${1:-$run_build/bench-results.txt}
figures=${out%.txt}.tsv

. "$root/scripts/wine-env.sh"
mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
figures=$(cd "$(dirname "$figures")" && pwd)/$(basename "$figures")
# Wine's drive Z: is the root of the file system.
"$WINE" "$run_build/bin/travek_bench.exe" "Z:$figures.part" ${2:+"$2"} >"$out.part"
mv "$out.part" "$out"
mv "$figures.part" "$figures"
cat "$out"
echo
echo "Table written to $out, figures to $figures"
