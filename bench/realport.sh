#!/bin/sh
# Figures of the real-port road on the emulated parallel port, each beside the
# simulated port's or the device's own in the same run, in three parts:
#   1. the native helper driven by a native stand-in for the library's calls
#      (figures named standin_...);
#   2. the real library under Wine (realport_writer.exe) starting the helper
#      itself, as the test bench would (writer_...);
#   3. the test bench itself, Travek.exe, on the emulated port: the 0 before
#      each value on the wire, pin to status box, write to wire, and the
#      helper's wake-ups and processor while the program idles and runs K2000
#      (travek_bench.exe, part realport), beside the device's round trip.
# Prints the tables and keeps them in a file: the path given as first
# argument, or realport-results.txt in the runnable build; beside it the same
# name ending in .tsv holds one figure a line (name, value, unit). About two
# minutes; REALPORT_QUIET_S (default 5, three quiet spells a part) and
# REALPORT_PASSES (K2000 passes, default 300) size parts 1 and 2.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${TRAVEK_BUILD_ROOT:-$root/build}
"$root/scripts/setup.sh"
run_build=$("$root/scripts/build.sh" realport_writer travek_bench)
native=$build_root/native
out=${1:-$run_build/realport-results.txt}
figures=${out%.txt}.tsv
quiet_s=${REALPORT_QUIET_S:-5}
passes=${REALPORT_PASSES:-300}
export REALPORT_QUIET_S=$quiet_s REALPORT_PASSES=$passes
emuport="sh $root/tests/emuport/with-emuport.sh $native/tests/emuport/emuport"
work=$(mktemp -d "${TMPDIR:-/tmp}/travek-bench.XXXXXX")
mkdir -m 700 "$work/standin" "$work/sim" "$work/ppdev" "$work/program"
mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
figures=$(cd "$(dirname "$figures")" && pwd)/$(basename "$figures")
: >"$figures.part"
export REALPORT_FIGURES="$figures.part"

echo "Native stand-in for the library's calls, helper on the emulated port" >"$out.part"
XDG_RUNTIME_DIR=$work/standin REALPORT_PREFIX=standin_ $emuport -- \
    sh -c 'exec "$1" "$2" "$TRAVEK_EMUPORT/parport0" "$TRAVEK_EMUPORT/parport0.writes"' standin \
    "$native/bench/realport/realport_bench" "$native/helper/travek-porthelper" >>"$out.part"

. "$root/scripts/wine-env.sh"
trap 'rm -rf "$work"; wine_cleanup' EXIT INT TERM
writer="$run_build/bin/realport_writer.exe"
sim_cost=$(XDG_RUNTIME_DIR=$work/sim TRAVEK_PORT=sim "$WINE" "$writer" $((quiet_s * 1000)) "$passes" | tr -d '\r')
echo "" >>"$out.part"
echo "The library under Wine (realport_writer.exe), helper on the emulated port" >>"$out.part"
XDG_RUNTIME_DIR=$work/ppdev REALPORT_PREFIX=writer_ WINE=$WINE $emuport -- sh -c '
    TRAVEK_PORT=$TRAVEK_EMUPORT/parport0 "$WINE" "$1" "$2" "$3" >"$5.part" && mv "$5.part" "$5" &
    "$4" --watch "$TRAVEK_EMUPORT/parport0.writes" "$3" "$6" "$5"
    status=$?
    wait
    exit $status' ppdev "$writer" $((quiet_s * 1000)) "$passes" "$native/bench/realport/realport_bench" \
    "$work/call-cost" "$sim_cost" >>"$out.part"
echo "" >>"$out.part"
echo "The test bench under Wine on the emulated port" >>"$out.part"
# The Windows part writes its own figures; the device's round trip is
# measured natively in the same fixture, just before.
XDG_RUNTIME_DIR=$work/program WINE=$WINE $emuport -- sh -c '
    REALPORT_DEVICE_US=$("$1" --round-trip "$TRAVEK_EMUPORT/parport0") "$WINE" "$2" "Z:$3" realport' program \
    "$native/bench/realport/realport_bench" "$run_build/bin/travek_bench.exe" "$work/program.tsv" >>"$out.part"
cat "$work/program.tsv" >>"$figures.part"
mv "$figures.part" "$figures"
mv "$out.part" "$out"
cat "$out"
echo
echo "Tables written to $out, figures to $figures"
