# Sourced by setup.sh and wine-arch.sh: the one test of whether this machine
# runs 32-bit x86 code. Some sandboxed kernels offer no 32-bit code segment;
# there a 32-bit program fails with "Exec format error" and Wine's 32-bit
# loader cannot start.

# Succeeds when a 95-byte static i386 program (exit(42) through int 0x80) runs.
runs_32bit_code() {
    cpu32_dir=$(mktemp -d) || return 1
    printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\137\000\000\000\137\000\000\000\005\000\000\000\000\020\000\000\061\333\263\052\270\001\000\000\000\315\200' >"$cpu32_dir/probe"
    chmod +x "$cpu32_dir/probe"
    "$cpu32_dir/probe" >/dev/null 2>&1
    cpu32_rc=$?
    rm -rf "$cpu32_dir"
    [ "$cpu32_rc" = 42 ]
}
