#!/bin/sh
# The conformance suite's hook (see rules.h) on the kernel's own driver, in
# the kernel check's virtual machine (busybox, as root).
modules=/lib/modules
pnp=/sys/bus/pnp/drivers/parport_pc
removed=/tmp/hook-removed-port  # the PNP device unbound by `remove`

loaded() { grep -q "^$1 " /proc/modules; }

# Waits up to 2 s for a device node to appear (yes) or go (no).
wait_node() {
    for _ in $(seq 20); do
        if [ -e "$1" ]; then [ "$2" = yes ] && return 0; else [ "$2" = no ] && return 0; fi
        sleep 0.1
    done
    return 1
}

case "$1 $2" in
"printer on") loaded lp || insmod "$modules/lp.ko" ;;
"printer off") ! loaded lp || rmmod lp ;;
"group ") chown 0:7 /dev/parport0 && chmod 0660 /dev/parport0 ;;
"noport ")
    # ppdev's major is 99; no port has number 3 here.
    [ -e /dev/parport3 ] || mknod /dev/parport3 c 99 3 || exit 1
    echo /dev/parport3 ;;
"remove ")
    # Only a port that parport_pc took through Plug and Play can be unbound.
    for d in "$pnp"/??:??; do
        [ -e "$d" ] || exit 77
        name=$(basename "$d")
        echo "$name" >"$removed"
        printf %s "$name" >"$pnp/unbind" && wait_node /dev/parport0 no
        exit
    done
    exit 77 ;;
"restore ")
    [ -f "$removed" ] || exit 77
    printf %s "$(cat "$removed")" >"$pnp/bind" && rm -f "$removed" && wait_node /dev/parport0 yes ;;
*) exit 77 ;;
esac
