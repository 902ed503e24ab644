#!/bin/sh
# scripts/setup.sh against stand-ins for apt-get, dpkg and dpkg-query: an index
# that fails to download, packages that cannot be installed, wine32 asked for
# only on the 32-bit path, nothing installed twice.
setup=$1
fail=0
check() {
    if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; fail=1; fi
}

stubs=$(mktemp -d)
trap 'rm -rf "$stubs"' EXIT
cat >"$stubs/dpkg-query" <<'STUB'
#!/bin/sh
for p; do :; done
grep -qx "$p" "$STUBS/installed" && echo "install ok installed"
STUB
cat >"$stubs/dpkg" <<'STUB'
#!/bin/sh
case $1 in
    --print-foreign-architectures) cat "$STUBS/arches" ;;
    --add-architecture) echo "$2" >>"$STUBS/arches" ;;
esac
STUB
cat >"$stubs/apt-get" <<'STUB'
#!/bin/sh
echo "apt-get $*" >>"$STUBS/calls"
case $1 in
    update)
        n=$(cat "$STUBS/update_failures")
        [ "$n" -gt 0 ] && { echo $((n - 1)) >"$STUBS/update_failures"; exit 100; }
        exit 0 ;;
    install)
        shift
        for p; do grep -qx -- "$p" "$STUBS/broken" && exit 100; done
        for p; do case $p in -*) ;; *) echo "$p" >>"$STUBS/installed" ;; esac; done ;;
esac
STUB
printf '#!/bin/sh\n' >"$stubs/sleep"
chmod +x "$stubs"/*
export STUBS="$stubs" PATH="$stubs:$PATH"

# Runs setup.sh with the given update failures, broken packages and wine
# architecture; $out holds its output, $rc its exit status.
run() {
    echo "$1" >"$stubs/update_failures"
    printf '%s\n' $2 >"$stubs/broken"
    : >"$stubs/calls"
    out=$(TRAVEK_WINE_ARCH=$3 "$setup" 2>&1)
    rc=$?
}
reset() {
    : >"$stubs/installed"
    : >"$stubs/arches"
}

reset
echo cmake >>"$stubs/installed"
run 2 "" x86_64
check "a failing index is retried once, then the install goes on" \
    '[ $rc = 0 ] && [ "$(grep -c "apt-get update" "$stubs/calls")" = 2 ] && grep -q "apt-get install" "$stubs/calls"'
check "what is there is not installed again" '! grep -q " cmake" "$stubs/calls"'
check "the 64-bit path neither asks for wine32 nor adds i386" \
    '! grep -q wine32 "$stubs/calls" && [ ! -s "$stubs/arches" ]'
run 0 "" x86_64
check "with everything there, apt is not called" '[ $rc = 0 ] && [ ! -s "$stubs/calls" ]'

reset
run 0 "xvfb" x86_64
check "a failed install fails, names what is missing and the command to retry" \
    '[ $rc = 1 ] && echo "$out" | grep -q "could not install:.* xvfb" && echo "$out" | grep -q "retry with: .*setup.sh"'

reset
run 1 "wine32:i386" i686
check "wine32 that cannot be installed is one line, and the rest is installed" \
    '[ $rc = 0 ] && [ "$(echo "$out" | grep -c "wine32:i386 cannot be installed")" = 1 ] && grep -qx wine64 "$stubs/installed"'
check "the 32-bit path adds the i386 architecture" 'grep -qx i386 "$stubs/arches"'
run 0 "" i686
check "wine32 is tried again on the next run, alone" \
    '[ $rc = 0 ] && grep -qx "wine32:i386" "$stubs/installed" && [ "$(grep -c "apt-get install" "$stubs/calls")" = 1 ]'
exit $fail
