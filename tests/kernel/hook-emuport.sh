#!/bin/sh
# The conformance suite's hook (see rules.h) on the emulated port: the
# commands of its control files. Runs inside with-emuport.sh, two devices:
# parport0 is the one tested, parport1 plays a node with no port behind it.
ctl=$TRAVEK_EMUPORT/parport0.ctl
case "$1 $2" in
"printer on"|"printer off") echo "printer $2" >"$ctl" ;;
"group ") echo "mode 660" >"$ctl" ;;  # its files belong to root and the lp group
"noport ") echo noport >"$TRAVEK_EMUPORT/parport1.ctl" && echo "$TRAVEK_EMUPORT/parport1" ;;
"remove ") echo remove >"$ctl" ;;
"restore ") echo normal >"$ctl" ;;
*) exit 77 ;;
esac
