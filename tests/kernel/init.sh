#!/bin/busybox sh
# /init of the kernel check's virtual machine (see scripts/kernel-check.sh).
# Results go to the second serial port, one line each: PASS NAME, FAIL NAME:
# why, JOURNAL lines for the host's comparison with QEMU's trace, WAY lines,
# bench rows; DONE once everything ran. The kernel's own messages go to the
# first. The kernel command line says what to run: travek_mode=check, ways
# (with travek_way=WAY) or bench.
/bin/busybox --install -s /bin
export PATH=/bin:/opt/travek
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs -o mode=1777 tmp /tmp
exec 3>/dev/ttyS1

modules=/lib/modules
hook=/opt/travek/hook
h64=/opt/travek/travek-porthelper
h32=/opt/travek/travek-porthelper32
port=/dev/parport0
# What the kernel says when its structures are broken or it is stuck.
faults="general protection|BUG:|Oops|WARNING:|list_(add|del) corruption|Poison overwritten|don't know how to wake|when not owner|blocked for more than"
# The kernel's own warning when a ppdev file is closed after its port was
# removed (the port's device went before the file's): no fault of ours.
removal_warning="sysfs group 'power' not found for kobject 'ppdev"
removal_mark="travek: the port's driver is removed from here on"

say() { echo "$@" >&3; }

# run NAME LIMIT COMMAND...: runs COMMAND under a time limit, its PASS and
# FAIL lines to the results (renamed by the sed expression in $rename, if
# set); a command that ends badly without a FAIL line gets one of its own.
run() {
    name=$1 limit=$2
    shift 2
    say "# $(cut -d ' ' -f 1 /proc/uptime) s: $name"
    timeout -s KILL "$limit" "$@" >/tmp/run.out 2>/tmp/run.err
    rc=$?
    sed "${rename:-}" /tmp/run.out >&3
    if [ $rc -ne 0 ] && ! grep -q '^FAIL' /tmp/run.out; then
        say "FAIL $name: code $rc: $(tail -c 300 /tmp/run.err | tr '\n' ' ')"
    fi
}

# The kernel stayed sound: no fault in its log (after the removal mark, a
# WARNING only right after the removal's own warning), and the port can be
# claimed. NAME names the check.
kernel_sound() {
    bad=$(dmesg | awk -v faults="$faults" -v known="$removal_warning" -v mark="$removal_mark" '
        index($0, mark) { removal = 1 }
        $0 ~ faults && !(removal && /WARNING:/ && index(previous, known)) { print; exit }
        { previous = $0 }')
    if [ -n "$bad" ]; then
        say "FAIL $1: $bad"
    elif ! kernel_session claim "$port" >/dev/null; then
        say "FAIL $1: $port cannot be claimed"
    else
        say "PASS $1"
    fi
}

# The same results from both widths' system calls and the same state layout.
syscalls() {
    run syscalls_64 20 unixsys_check calls syscalls_64
    cp /tmp/run.out /tmp/calls64
    run syscalls_32 20 unixsys_check32 calls syscalls_32
    if [ "$(grep ^RESULT /tmp/calls64)" = "$(grep ^RESULT /tmp/run.out)" ]; then
        say "PASS syscalls_32_same_as_64"
    else
        say "FAIL syscalls_32_same_as_64: $(grep ^RESULT /tmp/run.out | tr '\n' ' ')"
    fi
    unixsys_check layout >/tmp/layout64
    unixsys_check32 layout >/tmp/layout32
    if cmp -s /tmp/layout64 /tmp/layout32; then say "PASS layout_32_same_as_64"; else
        say "FAIL layout_32_same_as_64: $(diff /tmp/layout64 /tmp/layout32 | tr '\n' ' ')"; fi
    unixsys_check32 write /tmp/state32/port-state.v2 &&
        run state_32_read_by_64 20 unixsys_check read state_32_read_by_64 /tmp/state32/port-state.v2
    unixsys_check write /tmp/state64/port-state.v2 &&
        run state_64_read_by_32 20 unixsys_check32 read state_64_read_by_32 /tmp/state64/port-state.v2
}

checks() {
    insmod $modules/parport.ko
    insmod $modules/ppdev.ko
    run no_device 30 kernel_session fault nodevice no_device $h64 $port
    # No interrupt: with QEMU's IRQ 7 the guest froze when the port went to a queued waiter.
    insmod $modules/parport_pc.ko io=0x378 irq=none
    run ppdev_rules 120 ppdev_rules --hook $hook --except removed $port
    rename=s/ppdev_/ppdev32_/
    run ppdev32_rules 120 ppdev_rules32 --hook $hook --except removed $port
    rename=
    run wire_64 60 kernel_session wire 1 wire_64 $h64 $port
    run wire_32 60 kernel_session32 wire 2 wire_32 $h32 $port
    $hook printer on  # the printer driver registered beside the helper makes no difference
    run wire_32_library_64_helper 60 kernel_session32 wire 3 wire_32_library_64_helper $h64 $port
    $hook printer off
    for case in late early quit killed stopped; do
        run held_$case 60 kernel_session held $case held_$case $h64 $port
    done
    run held_late_32 60 kernel_session held late held_late_32 $h32 $port
    run held_check 30 kernel_session fault held held $h64 $port
    $hook group && run permission 60 kernel_session fault denied permission $h64 $port
    run no_port 30 kernel_session fault noport no_port $h64 "$($hook noport)"
    syscalls
    kernel_sound kernel_sound
    # Removal needs a port that parport_pc took through Plug and Play.
    echo "$removal_mark" >/dev/kmsg
    rmmod parport_pc && insmod $modules/parport_pc.ko
    run ppdev_removed 30 ppdev_rules --hook $hook $port removed
    run driver_removed 30 kernel_session fault removed driver_removed $h64 $port $hook
    kernel_sound kernel_sound_after_removal
}

case "$travek_mode" in
check) checks ;;
ways)
    insmod $modules/parport.ko
    insmod $modules/parport_pc.ko io=0x378 irq=none
    insmod $modules/ppdev.ko
    claim_ways "$travek_way" >&3 2>&1
    kernel_sound kernel_sound ;;
bench)
    insmod $modules/parport.ko
    insmod $modules/parport_pc.ko io=0x378 irq=none
    insmod $modules/ppdev.ko
    kernel_bench $h64 $port >&3 2>&1 ;;
*) say "FAIL init: no travek_mode on the kernel command line" ;;
esac
dmesg >/dev/console  # the whole log, for the host's copy of the console
say DONE
poweroff -f
