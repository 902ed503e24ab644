#!/bin/sh
# Installs what is missing, builds, and starts the test bench and, beside it,
# the virtual bench under Wine. Closing the test bench ends the run; the
# virtual bench is closed with it.
#   scripts/run.sh                       the simulated port
#   scripts/run.sh --port /dev/parport0  a real port through ppdev ("parport1"
#                                        means /dev/parport1: the library's own
#                                        grammar, applied by the helper's
#                                        --check); the port is checked first,
#                                        and the run stops with the reason if
#                                        it cannot be used
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${TRAVEK_BUILD_ROOT:-$root/build}
window_wait_s=10  # how long the virtual bench waits for the test bench's window

usage() {
    echo "usage: scripts/run.sh [--port DEVICE]   (e.g. /dev/parport0, parport1)" >&2
    exit 2
}
port=""
while [ $# -gt 0 ]; do
    case $1 in
        --port) [ $# -ge 2 ] || usage; port=$2; shift 2 ;;
        --port=*) port=${1#--port=}; shift ;;
        *) usage ;;
    esac
done
"$root/scripts/setup.sh"
run_build=$("$root/scripts/build.sh")
if [ -n "$port" ]; then
    helper="$run_build/bin/travek-porthelper"
    [ -x "$helper" ] || helper="$build_root/native/helper/travek-porthelper"
    if ! "$helper" --check "$port"; then
        echo "The port $port cannot be used: nothing was started." >&2
        exit 1
    fi
    export TRAVEK_PORT="$port"
fi

TRAVEK_KEEP_DISPLAY=1
# Room for both windows side by side on the display made for the run.
TRAVEK_SCREEN=${TRAVEK_SCREEN:-1920x1080x24}
. "$root/scripts/wine-env.sh"
echo "Display $DISPLAY${port:+, port $port}"
cd "$run_build/bin"
"$WINE" Travek.exe &
bench_pid=$!
# The virtual bench places itself beside the test bench's window: wait for it.
for _ in $(seq $((window_wait_s * 10))); do
    xwininfo -root -tree 2>/dev/null | grep -qi 'travek' && break
    kill -0 "$bench_pid" 2>/dev/null || break
    sleep 0.1
done
"$WINE" vbench.exe &
vbench_pid=$!
wait "$bench_pid" || true
kill "$vbench_pid" 2>/dev/null || true
