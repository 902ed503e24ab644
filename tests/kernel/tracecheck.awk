# Compares each session's journal (JOURNAL lines of the results) with the
# data writes QEMU traced between the session's markers (MARKS line), and
# prints one PASS or FAIL line per session.
#   awk -f tracecheck.awk results.log trace.log
function hexval(s,    i, v) {
    s = tolower(s); sub(/^0x/, "", s); v = 0
    for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
    return v
}
# Where the four values a b c d come in a row in the trace, from `from` on; 0 if nowhere.
function find(a, b, c, d, from,    k) {
    for (k = from; k + 3 <= n; k++)
        if (w[k] == a && w[k + 1] == b && w[k + 2] == c && w[k + 3] == d) return k
    return 0
}
FNR == NR {
    sub(/\r$/, "")
    if ($1 == "MARKS") for (i = 2; i <= NF; i++) mark[i - 1] = $i
    if ($1 == "JOURNAL") { ids[++sessions] = $2; j[$2] = ""; for (i = 3; i <= NF; i++) j[$2] = j[$2] " " $i; count[$2] = NF - 2 }
    next
}
/parallel_ioport_write/ && / addr 0x00 / {
    for (i = 1; i < NF; i++) if ($i == "val") w[++n] = hexval($(i + 1))
}
END {
    for (s = 1; s <= sessions; s++) {
        id = ids[s]; name = "wire_trace_" id
        start = find(mark[1], mark[2], mark[3], id, 1)
        stop = start ? find(mark[4], mark[5], mark[6], id, start + 4) : 0
        if (!start || !stop) { print "FAIL " name ": the session's markers are not in QEMU's trace"; continue }
        got = ""
        for (k = start + 4; k < stop; k++) got = got " " w[k]
        if (got == j[id]) print "PASS " name " (" count[id] " writes, each once, in journal order)"
        else print "FAIL " name ": the port got" got "; the journal holds" j[id]
    }
}
