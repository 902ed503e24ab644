#!/bin/sh
# Installs what is missing, builds, and runs every test: the native ones, then
# those under Wine and Xvfb.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${TRAVEK_BUILD_ROOT:-$root/build}
"$root/scripts/setup.sh"
run_build=$("$root/scripts/build.sh")
. "$root/scripts/wine-env.sh"
# The port's shared state file of the tests stays in this build, apart from
# the user's session and from other builds tested at the same time.
export XDG_RUNTIME_DIR="$build_root/runtime"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 0700 "$XDG_RUNTIME_DIR"
status=0
if [ "$run_build" != "$build_root/i686" ]; then
    echo "This machine cannot run 32-bit code: the tests run the x86_64 build;"
    echo "the i686 build gets its static checks."
    ctest --test-dir "$build_root/i686" -L static --output-on-failure || status=1
fi
ctest --test-dir "$build_root/native" --output-on-failure --timeout 600 || status=1
# The helper, the emulated device's rules and the 32-bit programs against
# Linux's own parallel-port driver, in a virtual machine.
"$root/scripts/kernel-check.sh" || status=1
# A short run of each fuzz target over its corpus (scripts/fuzz.sh for longer).
"$root/scripts/fuzz.sh" "${TRAVEK_FUZZ_SECONDS:-5}" || status=1
ctest --test-dir "$run_build" --output-on-failure --timeout 600 || status=1
exit $status
