#!/bin/sh
# Builds the program for 32-bit Windows (build/i686) and, where this machine
# cannot run 32-bit code, also for 64-bit Windows (build/x86_64), which is then
# what runs under Wine here. Prints the folder of the build to run. With target
# names, builds only those (and what they need). The native Linux parts (the
# port helper and travek-portctl) are built with the host compiler in
# build/native and copied beside the DLL of each Windows build.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${TRAVEK_BUILD_ROOT:-$root/build}
targets="$*"

build() {
    cmake -S "$root" -B "$build_root/$1" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$1.cmake" >&2
    cmake --build "$build_root/$1" -j "$(nproc)" ${targets:+--target $targets} >&2
}

# The native parts are small: always built whole, whatever targets were named.
build_native() {
    cmake -S "$root" -B "$build_root/native" -DCMAKE_BUILD_TYPE=Release >&2
    cmake --build "$build_root/native" -j "$(nproc)" >&2
}

# Puts the native helper and travek-portctl, if built, beside the DLL of a
# Windows build.
copy_helper() {
    for program in travek-porthelper travek-portctl; do
        native_program="$build_root/native/helper/$program"
        if [ -x "$native_program" ] && [ -d "$build_root/$1/bin" ]; then
            cp -p "$native_program" "$build_root/$1/bin/"
        fi
    done
}

build_native
build i686
copy_helper i686
if "$root/scripts/wine-arch.sh" | grep -qx i686; then
    echo "$build_root/i686"
else
    build x86_64
    copy_helper x86_64
    echo "$build_root/x86_64"
fi
