#!/bin/sh
# Soak of the real-port road on the emulated ppdev device under Wine: both
# effects, random clicks and status pins for SECONDS (default 600) while the
# native helper is killed and the device fails now and then; the device's
# record must equal the journal. A second argument replays a printed seed.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${TRAVEK_BUILD_ROOT:-$root/build}
seconds=${1:-600}
[ $# -gt 0 ] && shift
case "$seconds" in ''|*[!0-9]*) echo "realsoak.sh: SECONDS must be a number" >&2; exit 2;; esac
run_build=$("$root/scripts/build.sh" realsoak)
. "$root/scripts/wine-env.sh"
export XDG_RUNTIME_DIR="$build_root/runtime"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 0700 "$XDG_RUNTIME_DIR"
status=0
sh "$root/tests/emuport/with-emuport.sh" "$build_root/native/tests/emuport/emuport" --claim-wait 3000 -- \
    "$WINE" "$run_build/bin/realsoak.exe" "$seconds" "$@" || status=$?
exit $status
