#!/bin/sh
# Builds the program for 32-bit Windows (build/i686) and, where this machine
# cannot run 32-bit code, also for 64-bit Windows (build/x86_64), which is then
# what runs under Wine here. Prints the folder of the build to run. With target
# names, builds only those (and what they need). The native Linux parts (the
# port helper and travek-portctl) are built with the host compiler in
# build/native and copied beside the DLL of each Windows build; where the
# compiler can make 32-bit programs (gcc-multilib), they are built again as
# static 32-bit programs in build/native32, for the kernel check's virtual
# machine. With --native, builds only the native parts and prints nothing.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${TRAVEK_BUILD_ROOT:-$root/build}
native_only=""
[ "$1" = --native ] && native_only=1 && shift
targets="$*"

# The Windows builds' tests on the emulated device run the native build's server.
build() {
    cmake -S "$root" -B "$build_root/$1" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$1.cmake" -DTRAVEK_NATIVE_DIR="$build_root/native" >&2
    cmake --build "$build_root/$1" -j "$(nproc)" ${targets:+--target $targets} >&2
}

# The native parts are small: always built whole, whatever targets were named.
# Configures a native build folder (with --native, only if it never was:
# building it configures it again when a CMakeLists.txt changed), then builds it.
configure_and_build() {
    dir=$1
    shift
    if [ -z "$native_only" ] || [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >&2
    fi
    cmake --build "$dir" -j "$(nproc)" >&2
}

build_native() {
    configure_and_build "$build_root/native"
    if echo 'int main(void) { return 0; }' | gcc -m32 -static -x c -o /dev/null - 2>/dev/null; then
        configure_and_build "$build_root/native32" -DTRAVEK_TESTS=OFF -DCMAKE_C_FLAGS=-m32 \
            -DCMAKE_CXX_FLAGS=-m32 -DCMAKE_EXE_LINKER_FLAGS=-static
    fi
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
[ -n "$native_only" ] && exit 0
build i686
copy_helper i686
if "$root/scripts/wine-arch.sh" | grep -qx i686; then
    echo "$build_root/i686"
else
    build x86_64
    copy_helper x86_64
    echo "$build_root/x86_64"
fi
