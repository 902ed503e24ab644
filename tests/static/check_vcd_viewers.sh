#!/bin/sh
# The sample dump written by porttools_test, read back by the readers of two
# waveform viewers: PulseView's (sigrok-cli, re-exported as VCD) and GTKWave's
# (vcd2fst, then fst2vcd). Each must give exactly the value changes of the
# sample. Skips (77) when neither is installed.
set -e
sample=$1
[ -s "$sample" ] || { echo "no sample dump: $sample"; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# "time name value" for every value change, sorted within a time.
changes() {
    awk '
        $1 == "$var" { name[$4] = $5; next }
        /^\$enddefinitions/ { body = 1; next }
        !body { next }
        {
            for (i = 1; i <= NF; i++) {
                t = $i
                if (t ~ /^#/) { now = substr(t, 2); continue }
                if (t ~ /^\$/) continue
                v = substr(t, 1, 1); id = substr(t, 2)
                if (v ~ /[01xXzZ]/ && (id in name)) print now, name[id], tolower(v)
            }
        }' "$1" | sort -k1,1n -k2,2 -s
}

changes "$sample" >"$tmp/expected"
[ -s "$tmp/expected" ] || { echo "the sample has no value changes"; exit 1; }
checked=""

if command -v sigrok-cli >/dev/null 2>&1; then
    sigrok-cli -i "$sample" -I vcd -O vcd >"$tmp/sigrok.vcd"
    changes "$tmp/sigrok.vcd" >"$tmp/sigrok"
    if ! cmp -s "$tmp/expected" "$tmp/sigrok"; then
        echo "sigrok-cli reads other changes:"; diff "$tmp/expected" "$tmp/sigrok" | head -20; exit 1
    fi
    checked="$checked sigrok-cli"
fi

if command -v vcd2fst >/dev/null 2>&1 && command -v fst2vcd >/dev/null 2>&1; then
    vcd2fst -v "$sample" -f "$tmp/sample.fst" >/dev/null
    fst2vcd -f "$tmp/sample.fst" >"$tmp/gtkwave.vcd"
    changes "$tmp/gtkwave.vcd" >"$tmp/gtkwave"
    if ! cmp -s "$tmp/expected" "$tmp/gtkwave"; then
        echo "vcd2fst reads other changes:"; diff "$tmp/expected" "$tmp/gtkwave" | head -20; exit 1
    fi
    checked="$checked vcd2fst"
fi

if [ -z "$checked" ]; then
    echo "neither sigrok-cli nor gtkwave's vcd2fst is installed"
    exit 77
fi
echo "$(wc -l <"$tmp/expected") value changes read alike by:$checked"
