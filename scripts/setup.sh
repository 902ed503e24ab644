#!/bin/sh
# Installs what building, running and testing need, on Debian 12, as root.
# Does nothing for packages that are already there. Wine's 32-bit half
# (wine32:i386) is asked for only where this machine runs 32-bit code, or
# where TRAVEK_WINE_ARCH=i686 asks for it; elsewhere the 64-bit build is run.
set -e
scripts=$(cd "$(dirname "$0")" && pwd)
. "$scripts/cpu32.sh"

packages="cmake make g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
 binutils-mingw-w64-x86-64 mingw-w64-tools wine wine64 xvfb xauth x11-utils
 googletest fonts-comic-neue libfuse3-dev fuse3 pkg-config imagemagick python3 sigrok-cli gtkwave
 clang libclang-rt-14-dev qemu-system-x86 busybox-static cpio xz-utils gcc-multilib g++-multilib"
wine32=wine32:i386

installed() {
    dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q "install ok installed"
}

missing_of() {
    for p in "$@"; do installed "$p" || printf ' %s' "$p"; done
}

wants_wine32() {
    case "$TRAVEK_WINE_ARCH" in
        i686) return 0 ;;
        "") runs_32bit_code ;;
        *) return 1 ;;
    esac
}

# One failed index (a mirror in mid-sync) is retried once, then left to the
# install, which may well not need it.
update_indexes() {
    apt-get update -q && return 0
    echo "setup: apt-get update failed; retrying once in 10 s"
    sleep 10
    apt-get update -q && return 0
    echo "setup: some package indexes are still missing; installing from those apt has"
}

missing=$(missing_of $packages)
missing32=""
if wants_wine32; then
    missing32=$(missing_of $wine32)
fi
[ -z "$missing$missing32" ] && exit 0

echo "Installing:$missing$missing32"
if [ -n "$missing32" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
update_indexes
if [ -n "$missing" ] && ! apt-get install -y -q --no-install-recommends $missing; then
    echo "setup: could not install:$(missing_of $missing)"
    echo "setup: retry with: $scripts/setup.sh"
    exit 1
fi
if [ -n "$missing32" ]; then
    log=$(mktemp)
    if ! apt-get install -y -q --no-install-recommends $missing32 >"$log" 2>&1; then
        echo "setup: $wine32 cannot be installed here (apt's output: $log); the tests use the 64-bit build"
    else
        rm -f "$log"
    fi
fi
exit 0
