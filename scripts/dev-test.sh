#!/bin/sh
# For development: builds, then runs ctest with the given arguments (say -R name)
# in the build that runs here, under Wine and Xvfb. Set TRAVEK_BUILD_ROOT to
# keep a build, prefix and display of your own.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
run_build=$("$root/scripts/build.sh")
. "$root/scripts/wine-env.sh"
ctest --test-dir "$run_build" --output-on-failure "$@"
