#!/bin/sh
# Static checks of the companion programs: the virtual bench is a GUI program,
# portctl a console one, and both need only Windows' own DLLs.
objdump=$1 vbench=$2 portctl=$3
fail=0
check() {
    if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; fail=1; fi
}
dlls() {
    "$objdump" -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u | tr '\n' ' '
}
system_only() {
    for d in $(dlls "$1"); do
        case $d in KERNEL32.DLL|USER32.DLL|GDI32.DLL|COMDLG32.DLL|MSVCRT.DLL) ;; *) return 1 ;; esac
    done
}
check "vbench.exe is a Windows GUI program" '"$objdump" -p "$vbench" | grep -Eq "^Subsystem[[:space:]]+0+2[[:space:]]"'
check "portctl.exe is a console program" '"$objdump" -p "$portctl" | grep -Eq "^Subsystem[[:space:]]+0+3[[:space:]]"'
check "vbench.exe needs only system DLLs ($(dlls "$vbench"))" 'system_only "$vbench"'
check "portctl.exe needs only system DLLs ($(dlls "$portctl"))" 'system_only "$portctl"'
exit $fail
