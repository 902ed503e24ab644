#!/bin/sh
# Installs what building, running and testing need, on Debian 12, as root.
# Does nothing for packages that are already there.
set -e

packages="cmake make g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
 binutils-mingw-w64-x86-64 mingw-w64-tools wine wine64 wine32:i386 xvfb xauth x11-utils
 googletest fonts-comic-neue libfuse3-dev fuse3 pkg-config imagemagick python3 sigrok-cli gtkwave
 clang libclang-rt-14-dev"

missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends $missing
