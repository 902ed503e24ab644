#!/bin/sh
# Rebuilds the bitmaps and the icon in res/ from imagegen.cpp with the host
# compiler. The results are committed, so a build does not need this.
set -e
root=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
${CXX:-g++} -std=c++17 -O2 -Wall -Wextra -Werror -o "$tmp/imagegen" "$root/tools/imagegen/imagegen.cpp"
"$tmp/imagegen" "$root/res"
ls -l "$root/res/"*.bmp "$root/res/"*.ico
