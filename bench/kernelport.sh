#!/bin/sh
# Figures of the real-port road on Linux's own parallel-port driver: boots the
# kernel check's virtual machine (tests/kernel) with bench/realport's
# kernel_bench, which prints the cost of a ppdev ioctl beside a plain system
# call and write-to-wire through the native helper, all measured in that
# machine. Without KVM the machine is emulated (TCG): each figure is slowed by
# its own factor and only the ratios carry over to real hardware. Prints the
# table and keeps it in a file: the path given as first argument, or
# kernelport-results.txt in the build folder. About a minute.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${TRAVEK_BUILD_ROOT:-$root/build}
out=$build_root/kernel/bench
results=${1:-$build_root/kernelport-results.txt}
"$root/scripts/setup.sh"
mkdir -p "$out"
"$root/scripts/build.sh" --native >"$out/build.log" 2>&1 || { tail -n 30 "$out/build.log"; exit 1; }
VM_HERE=$root/tests/kernel
. "$VM_HERE/vm.sh"
vm_fetch_kernel "$build_root/kernel"
vm_build_initramfs "$out/initramfs.cpio" "$build_root/native" "$build_root/native32"
vm_boot "$out/initramfs.cpio" "$out" "travek_mode=bench" 240 || true
if ! grep -q '^DONE' "$out/results.log"; then
    tail -n 20 "$out/console.log"
    echo "kernelport: the machine did not finish its run"
    exit 1
fi
mkdir -p "$(dirname "$results")"
tr -d '\r' <"$out/results.log" | grep -v '^DONE' >"$results"
cat "$results"
echo
echo "Table written to $results"
