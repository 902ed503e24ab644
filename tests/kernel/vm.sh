# The kernel check's virtual machine, sourced by scripts/kernel-check.sh and
# bench/kernelport.sh after setting VM_HERE to this folder: Debian's own
# kernel (fetched with apt-get download, never installed), a small initramfs
# (busybox, the parport modules, the check programs), and QEMU booting them.

vm_log() { echo "kernel-check: $*" >&2; }

# The versioned kernel package that linux-image-amd64 depends on.
vm_kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
        sed -n 's/^ *|\{0,1\}Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -n 1
}

# The uncompressed kernel (an ELF that QEMU boots at once) from a vmlinuz
# whose payload is XZ or gzip; nothing when neither is found.
vm_extract_vmlinux() {
    for vm_pair in "$(printf '\3757zXZ')|xz" "$(printf '\037\213\010')|gzip"; do
        vm_magic=${vm_pair%|*} vm_tool=${vm_pair#*|}
        vm_offset=$(LC_ALL=C grep -abo "$vm_magic" "$1" | head -n 1 | cut -d: -f1)
        [ -n "$vm_offset" ] || continue
        tail -c +"$((vm_offset + 1))" "$1" | "$vm_tool" -dc >"$2" 2>/dev/null
        [ "$(head -c 4 "$2" | od -An -tx1 | tr -d ' ')" = 7f454c46 ] && return 0
    done
    rm -f "$2"
    return 1
}

# Unpacks the kernel and the four modules of PACKAGE's .deb into DIR.
vm_unpack_kernel() {
    vm_deb=$1 vm_dir=$2
    mkdir -p "$vm_dir/modules"
    dpkg-deb --fsys-tarfile "$vm_deb" | tar -x -C "$vm_dir" --wildcards './boot/vmlinuz-*' \
        '*/drivers/parport/parport.ko' '*/drivers/parport/parport_pc.ko' '*/drivers/char/ppdev.ko' \
        '*/drivers/char/lp.ko' || return 1
    find "$vm_dir/lib" -name '*.ko' -exec mv {} "$vm_dir/modules/" \;
    mv "$vm_dir"/boot/vmlinuz-* "$vm_dir/vmlinuz"
    rm -rf "$vm_dir/boot" "$vm_dir/lib"
    vm_extract_vmlinux "$vm_dir/vmlinuz" "$vm_dir/vmlinux" || vm_log "no uncompressed kernel: booting vmlinuz"
    [ -f "$vm_dir/modules/ppdev.ko" ] && [ -f "$vm_dir/modules/lp.ko" ]
}

# Sets VM_KERNEL to a folder with vmlinuz (and vmlinux) and modules/, fetched
# into CACHE once per kernel version. Without apt (offline), the newest
# kernel already in the cache.
vm_fetch_kernel() {
    vm_cache=$1
    mkdir -p "$vm_cache"
    vm_package=$(vm_kernel_package)
    if [ -z "$vm_package" ]; then
        apt-get update -q >/dev/null 2>&1
        vm_package=$(vm_kernel_package)
    fi
    if [ -n "$vm_package" ] && [ ! -f "$vm_cache/$vm_package/vmlinuz" ]; then
        vm_work=$(mktemp -d "$vm_cache/fetch.XXXXXX")
        chmod 755 "$vm_work"  # apt's download user writes there
        if ! (cd "$vm_work" && apt-get download -q "$vm_package" >apt.log 2>&1) &&
            ! (apt-get update -q >/dev/null 2>&1 && cd "$vm_work" && apt-get download -q "$vm_package" >apt.log 2>&1); then
            vm_log "apt-get download $vm_package failed: $(tail -n 3 "$vm_work/apt.log")"
        elif vm_unpack_kernel "$vm_work"/*.deb "$vm_work/$vm_package"; then
            mv "$vm_work/$vm_package" "$vm_cache/$vm_package"
        else
            vm_log "$vm_package holds no usable kernel or parport modules"
        fi
        rm -rf "$vm_work"
    fi
    if [ -z "$vm_package" ] || [ ! -f "$vm_cache/$vm_package/vmlinuz" ]; then
        vm_package=$(ls -1 "$vm_cache" | grep '^linux-image-' | sort -V | tail -n 1)
        [ -n "$vm_package" ] && vm_log "using the cached $vm_package"
    fi
    [ -n "$vm_package" ] && [ -f "$vm_cache/$vm_package/vmlinuz" ] || { vm_log "no kernel to boot"; return 1; }
    VM_KERNEL=$vm_cache/$vm_package
}

# Copies a program and the shared libraries it needs into the root ROOT.
vm_copy_program() {
    vm_src=$1 vm_root=$2 vm_name=$3
    cp "$vm_src" "$vm_root/$vm_name"
    ldd "$vm_src" 2>/dev/null | grep -o '/[^ ]*' | while read -r vm_lib; do
        mkdir -p "$vm_root$(dirname "$vm_lib")"
        cp -L "$vm_lib" "$vm_root$vm_lib"
    done
}

# Builds the initramfs OUT: busybox, the modules of VM_KERNEL, the init and
# hook of tests/kernel, the 64-bit programs of NATIVE and the 32-bit ones of
# NATIVE32 (named with a 32 suffix) in /opt/travek. Kept while none of
# these is newer than it.
vm_build_initramfs() {
    vm_out=$1 vm_native=$2 vm_native32=$3
    if [ -f "$vm_out" ] && [ -z "$(find "$VM_KERNEL/modules" "$VM_HERE" "$vm_native/helper" "$vm_native32/helper" \
        "$vm_native/tests/kernel" "$vm_native32/tests/kernel" "$vm_native/bench/realport" -newer "$vm_out" \
        -type f -print -quit)" ]; then
        return 0
    fi
    vm_root=$(mktemp -d "${TMPDIR:-/tmp}/travek-initramfs.XXXXXX")
    chmod 755 "$vm_root"  # the machine's root folder: other users must reach /dev and /tmp
    mkdir -p "$vm_root/bin" "$vm_root/lib/modules" "$vm_root/opt/travek" "$vm_root/dev" "$vm_root/proc" "$vm_root/sys" "$vm_root/tmp"
    vm_copy_program "$(command -v busybox)" "$vm_root" bin/busybox
    cp "$VM_KERNEL"/modules/*.ko "$vm_root/lib/modules/"
    cp "$VM_HERE/init.sh" "$vm_root/init"
    cp "$VM_HERE/hook-kernel.sh" "$vm_root/opt/travek/hook"
    chmod 755 "$vm_root/init" "$vm_root/opt/travek/hook"
    vm_copy_program "$vm_native/helper/travek-porthelper" "$vm_root" opt/travek/travek-porthelper
    cp "$vm_native32/helper/travek-porthelper" "$vm_root/opt/travek/travek-porthelper32"
    for vm_program in ppdev_rules kernel_session unixsys_check claim_ways; do
        cp "$vm_native/tests/kernel/$vm_program" "$vm_root/opt/travek/$vm_program"
        cp "$vm_native32/tests/kernel/$vm_program" "$vm_root/opt/travek/${vm_program}32"
    done
    cp "$vm_native/bench/realport/kernel_bench" "$vm_root/opt/travek/kernel_bench"
    (cd "$vm_root" && find . | cpio -o -H newc --quiet) >"$vm_out"
    rm -rf "$vm_root"
}

# Boots VM_KERNEL with the initramfs INITRD and the kernel arguments ARGS,
# for at most LIMIT seconds. The guest's console goes to OUT/console.log,
# its results (second serial port) to OUT/results.log; with TRACE set, QEMU's
# trace of the port's register writes to OUT/trace.log (it slows each write).
# KVM where /dev/kvm can be used, else TCG with a host thread per processor.
vm_boot() {
    vm_initrd=$1 vm_out=$2 vm_args=$3 vm_limit=$4 vm_trace=$5
    rm -f "$vm_out/console.log" "$vm_out/results.log" "$vm_out/trace.log"
    set -- -accel tcg,thread=multi
    [ -r /dev/kvm ] && [ -w /dev/kvm ] && set -- -accel kvm -cpu host
    if [ -f "$VM_KERNEL/vmlinux" ]; then
        set -- "$@" -bios /usr/share/qemu/qboot.rom -kernel "$VM_KERNEL/vmlinux"
    else
        set -- "$@" -kernel "$VM_KERNEL/vmlinuz"
    fi
    [ -n "$vm_trace" ] && set -- "$@" -trace enable=parallel_ioport_write -D "$vm_out/trace.log"
    timeout -k 5 "$vm_limit" qemu-system-x86_64 "$@" -machine pc -m 512 -smp 2 -nodefaults -no-reboot \
        -display none -monitor none -initrd "$vm_initrd" \
        -append "console=ttyS0 quiet panic=-1 oops=panic $vm_args" \
        -serial "file:$vm_out/console.log" -serial "file:$vm_out/results.log" -parallel null \
        >"$vm_out/qemu.log" 2>&1
}
