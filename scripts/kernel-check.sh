#!/bin/sh
# Checks the port helper, the emulated device's rules and the 32-bit build
# against Linux's own parallel-port driver: boots Debian's kernel in QEMU
# (KVM where /dev/kvm can be used) with a small initramfs, runs the checks of
# tests/kernel inside, and compares the helper's sessions with QEMU's trace of
# the port's registers. Prints one PASS or FAIL line per check, then
# "N passed, M failed"; exits 0 only when all pass.
#   scripts/kernel-check.sh          the checks (scripts/test.sh runs them)
#   scripts/kernel-check.sh --ways   boots once per way of waiting for a held
#                                    port and says which leave the kernel sound
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${TRAVEK_BUILD_ROOT:-$root/build}
out=$build_root/kernel/run
started=$(date +%s)
"$root/scripts/setup.sh"
mkdir -p "$out"
if ! "$root/scripts/build.sh" --native >"$out/build.log" 2>&1; then
    tail -n 30 "$out/build.log"
    echo "kernel-check: the native build failed (all of it in $out/build.log)"
    exit 1
fi
VM_HERE=$root/tests/kernel
. "$VM_HERE/vm.sh"
vm_fetch_kernel "$build_root/kernel"
vm_build_initramfs "$out/initramfs.cpio" "$build_root/native" "$build_root/native32"
set +e

# The last lines of the guest's console, for a run that stopped short.
console_tail() {
    tail -n "${1:-25}" "$out/console.log" 2>/dev/null | tr -d '\r' | sed 's/^/    /'
}

if [ "$1" = --ways ]; then
    for way in once retried killed uninterrupted helper; do
        vm_boot "$out/initramfs.cpio" "$out" "slub_debug=FZP travek_mode=ways travek_way=$way" 60
        tr -d '\r' <"$out/results.log" | grep -E '^(WAY|HOLDER|PASS|FAIL)'
        oops=$(grep -m 1 -E 'general protection|BUG:|Oops' "$out/console.log" | tr -d '\r')
        [ -n "$oops" ] && echo "  the kernel faulted: $oops"
        grep -q '^DONE' "$out/results.log" || echo "  the machine did not finish (hung or panicked)"
    done
    exit 0
fi

vm_boot "$out/initramfs.cpio" "$out" "slub_debug=FZP travek_mode=check" 150 trace
tr -d '\r' <"$out/results.log" | grep -E '^(PASS|FAIL) ' >"$out/checks.txt"
awk -f "$VM_HERE/tracecheck.awk" "$out/results.log" "$out/trace.log" >>"$out/checks.txt"
if ! grep -q '^DONE' "$out/results.log"; then
    echo "FAIL kernel_check_ran_to_its_end: the machine stopped early; its console's end:" >>"$out/checks.txt"
    console_tail >>"$out/checks.txt"
fi
cat "$out/checks.txt"
passed=$(grep -c '^PASS' "$out/checks.txt")
failed=$(grep -c '^FAIL' "$out/checks.txt")
echo "$passed passed, $failed failed ($(($(date +%s) - started)) s; the machine's console: $out/console.log)"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
