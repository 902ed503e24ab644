#!/bin/sh
# Figures of the real-port road: the native helper on the emulated parallel
# port, driven as the library drives it, beside the simulated port's call in
# the same run. Prints the table and keeps it in a file: the path given as
# first argument, or realport-results.txt in build/native. About 20 s;
# REALPORT_QUIET_S (default 5, three spells) and REALPORT_PASSES (default 300)
# size it.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${TRAVEK_BUILD_ROOT:-$root/build}
"$root/scripts/setup.sh"
cmake -S "$root" -B "$build_root/native" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_root/native" -j "$(nproc)" >/dev/null
native=$build_root/native
out=${1:-$native/realport-results.txt}
runtime=$(mktemp -d "${TMPDIR:-/tmp}/travek-bench.XXXXXX")
chmod 700 "$runtime"
trap 'rm -rf "$runtime"' EXIT
mkdir -p "$(dirname "$out")"
XDG_RUNTIME_DIR=$runtime sh "$root/tests/emuport/with-emuport.sh" "$native/tests/emuport/emuport" -- \
    sh -c 'exec "$1" "$2" "$TRAVEK_EMUPORT/parport0" "$TRAVEK_EMUPORT/parport0.writes"' realport \
    "$native/bench/realport/realport_bench" "$native/helper/travek-porthelper" >"$out.part"
mv "$out.part" "$out"
cat "$out"
echo
echo "Table written to $out"
