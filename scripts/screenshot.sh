#!/bin/sh
# Takes docs/screenshot.png (or the file given): the test bench and the
# virtual bench side by side on the simulated port, in an Xvfb display of
# their own. The K2000 effect runs for a few seconds so that the strip chart
# shows its sweep, then "LED 3" is set and the nError switch pulled low, which
# lights "Capteur 1". Without a built Travek.exe, the virtual bench alone.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/docs/screenshot.png}
run_build=$("$root/scripts/build.sh")
bin=$run_build/bin

# A display wide enough for both windows (the test bench opens at 200,200, 800x600).
displayfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1840x900x24 -nolisten tcp 3>"$displayfile" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$displayfile" ] && break; sleep 0.1; done
DISPLAY=":$(cat "$displayfile")"
rm -f "$displayfile"
export DISPLAY
TRAVEK_KEEP_DISPLAY=1
. "$root/scripts/wine-env.sh"  # its clean-up also ends this Xvfb (xvfb_pid)

# Windows drawn with their caption: there is no window manager to draw it.
x11key='HKCU\Software\Wine\X11 Driver'
"$WINE" reg add "$x11key" /v Managed /d N /f >/dev/null 2>&1
trap '"$WINE" reg delete "$x11key" /v Managed /f >/dev/null 2>&1; wine_cleanup' EXIT INT TERM

cd "$bin"
wctl() { "$WINE" "$bin/wctl.exe" "$@"; }
# A control's number, from the program's resource header or the virtual bench's.
id() { sed -n "s/^#define $1  *\([0-9][0-9]*\).*/\1/p" "$root/res/resource.h"; }
vbench_id() { sed -n "s/^constexpr int $1 = \([0-9][0-9]*\);.*/\1/p" "$root/tools/vbench/vbench.h"; }
if [ -f Travek.exe ]; then
    "$WINE" Travek.exe >/dev/null 2>&1 &
    wctl rect VelkarisClasse >/dev/null
    "$WINE" vbench.exe >/dev/null 2>&1 &    # opens beside the test bench
    wctl rect BancVirtuelClasse >/dev/null
    sleep 1
    wctl click VelkarisClasse "$(id IDC_K2000)"
    sleep 5
    wctl click VelkarisClasse "$(id IDC_STOP)" "$(id IDC_LED3)"
    sleep 1                                 # the pass in progress ends first
    wctl click BancVirtuelClasse "$(vbench_id IDC_SWITCH_FIRST)"  # nError pulled low
    sleep 1
    set -- $(wctl rect VelkarisClasse | tr -d '\r') $(wctl rect BancVirtuelClasse | tr -d '\r')
    left=$1; top=$2
    right=$(( $5 + $7 )); bottom=$(( $2 + $4 > $6 + $8 ? $2 + $4 : $6 + $8 ))
    [ "$5" -lt "$left" ] && left=$5
    [ "$6" -lt "$top" ] && top=$6
else
    echo "no Travek.exe in $bin: the virtual bench alone" >&2
    "$WINE" vbench.exe >/dev/null 2>&1 &
    wctl rect BancVirtuelClasse >/dev/null
    sleep 1
    wctl click BancVirtuelClasse 1100
    sleep 1
    set -- $(wctl rect BancVirtuelClasse | tr -d '\r')
    left=$1; top=$2; right=$(( $1 + $3 )); bottom=$(( $2 + $4 ))
fi
mkdir -p "$(dirname "$out")"
import -window root -crop "$((right - left + 16))x$((bottom - top + 16))+$((left - 8))+$((top - 8))" +repage "$out"
echo "$out"
