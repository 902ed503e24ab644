# Sourced by the run and test scripts: a private Wine prefix under build/, an
# Xvfb display of its own and a persistent wineserver. Cleans up on exit.
root=${root:-$(cd "$(dirname "$0")/.." && pwd)}
build_root=${TRAVEK_BUILD_ROOT:-$root/build}
arch=$("$root/scripts/wine-arch.sh")

export WINEPREFIX="$build_root/wineprefix"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${WINEDEBUG:--all}"
export LANG=C.UTF-8
if [ "$arch" = i686 ]; then
    WINE=/usr/lib/wine/wine
else
    WINE=/usr/lib/wine/wine64
    export WINELOADER=$WINE
fi
export WINE
WINESERVER=/usr/lib/wine/wineserver
export WINESERVER

if [ -z "$TRAVEK_KEEP_DISPLAY" ] || [ -z "$DISPLAY" ]; then
    displayfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 "${TRAVEK_SCREEN:-1280x1024x24}" -nolisten tcp 3>"$displayfile" >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do [ -s "$displayfile" ] && break; sleep 0.1; done
    export DISPLAY=":$(cat "$displayfile")"
    rm -f "$displayfile"
fi

wine_cleanup() {
    "$WINESERVER" -k >/dev/null 2>&1 || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap wine_cleanup EXIT INT TERM

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$WINE" wineboot -i >/dev/null 2>&1
    "$WINESERVER" -w
    # The panel's font is not on Linux: draw it with Comic Neue.
    "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "Comic Sans MS" /d "Comic Neue" /f >/dev/null 2>&1
    "$WINESERVER" -w
fi
"$WINESERVER" -p
# Start the prefix's services now, detached from our output: a test runner
# that waits for its test's output to close would otherwise wait for them.
"$WINE" cmd /c exit </dev/null >/dev/null 2>&1
