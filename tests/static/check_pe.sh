#!/bin/sh
# Static checks of the built files: the library exports ordinals 1 and 2 and no
# names; the program imports it by those ordinals; both need only system DLLs.
objdump=$1 exe=$2 dll=$3
fail=0
check() {
    if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; fail=1; fi
}

dllp=$("$objdump" -p "$dll")
exports=$(echo "$dllp" | sed -n '/^Export Address Table -- Ordinal Base/,/^$/p' | grep 'Export RVA')
# "ordinal name" per entry imported from a DLL; the ordinal from the low 16
# bits of the thunk (objdump prints the ordinal column differently per target).
imported() {
    "$objdump" -p "$exe" | sed -n "/DLL Name: $1/,/^\$/p" | sed '1,2d;/^$/d' |
    while read -r thunk _ name _; do
        printf '%d %s\n' "0x$(echo "$thunk" | sed 's/.*\(....\)$/\1/')" "$name"
    done
}
imports=$(imported INPOUT32.dll)

check "library names itself INPOUT32.dll" 'echo "$dllp" | grep -Eq "^Name[[:space:]]+[0-9a-f]+ INPOUT32.dll$"'
check "library exports ordinals 1 and 2 only" \
    '[ "$(echo "$exports" | grep -o "+base\[ *[0-9]*\]" | tr -d " " | tr "\n" ,)" = "+base[1],+base[2]," ]'
check "library exports no names" \
    'echo "$dllp" | grep -Eq "\[Name Pointer/Ordinal\] Table[[:space:]]+0+$"'
check "program imports INPOUT32.dll ordinals 1 and 2, by ordinal" \
    '[ "$(echo "$imports" | sort | tr "\n" ,)" = "1 <none>,2 <none>," ]'
check "program imports InitCommonControls from COMCTL32.dll as ordinal 17" \
    '[ "$(imported COMCTL32.dll)" = "17 <none>" ]'
for f in "$exe" "$dll"; do
    deps=$("$objdump" -p "$f" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
    bad=$(echo "$deps" | tr ' ' '\n' | grep -Ev '^(kernel32|user32|gdi32|comctl32|msvcrt|advapi32|inpout32)\.dll$|^$' || true)
    check "$(basename "$f") imports only system DLLs: $deps" '[ -z "$bad" ]'
done
echo "INPOUT32.dll imports of $(basename "$exe"):"
echo "$imports"
exit $fail
