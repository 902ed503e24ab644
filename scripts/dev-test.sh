#!/bin/sh
# For development: builds, then runs ctest with the given arguments (say -R name)
# in the build that runs here, under Wine and Xvfb. Set TRAVEK_BUILD_ROOT to
# keep a build, prefix and display of your own.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
run_build=$("$root/scripts/build.sh")
. "$root/scripts/wine-env.sh"
# The port's shared state file of the tests stays in this build, apart from
# the user's session and from other builds tested at the same time.
export XDG_RUNTIME_DIR="$build_root/runtime"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 0700 "$XDG_RUNTIME_DIR"
ctest --test-dir "$run_build" --output-on-failure "$@"
