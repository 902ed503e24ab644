#!/bin/sh
# Fuzzes every place where the program reads what another process or a user
# wrote (tests/fuzz), natively with clang's libFuzzer and the address and
# undefined-behaviour sanitizers: SECONDS per target (default 120), starting
# from the corpus in tests/fuzz/corpus. Prints executions and findings per
# target; a finding's input is kept in build/fuzz/findings. Exit 1 on a
# finding. FUZZ_JOBS runs that many targets at once (default 1).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${TRAVEK_BUILD_ROOT:-$root/build}
seconds=${1:-120}
jobs=${FUZZ_JOBS:-1}
targets="state config procstat bridge portctl vcd stimulus"
case "$seconds" in ''|*[!0-9]*) echo "fuzz.sh: SECONDS must be a number" >&2; exit 2;; esac
"$root/scripts/setup.sh"
if ! command -v clang++ >/dev/null; then
    echo "fuzz.sh: clang++ not found (packages clang and libclang-rt-14-dev)" >&2
    exit 1
fi
out="$build_root/fuzz"
cmake -S "$root" -B "$out" -DTRAVEK_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$out" -j "$(nproc)" >/dev/null
rm -rf "$out/findings" "$out/logs"
mkdir -p "$out/findings" "$out/logs"

run_one() {
    t=$1
    work="$out/corpus/$t"
    mkdir -p "$work"
    # The repository's seeds are read, new inputs go to the build's corpus.
    "$out/tests/fuzz/fuzz_$t" "$work" "$root/tests/fuzz/corpus/$t" -max_total_time="$seconds" \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$out/findings/$t-" \
        >"$out/logs/$t.log" 2>&1 || true
}

i=0
for t in $targets; do
    run_one "$t" &
    i=$((i + 1))
    if [ $((i % jobs)) -eq 0 ]; then wait; fi
done
wait

status=0
printf '%-8s %14s %9s\n' target executions findings
for t in $targets; do
    log="$out/logs/$t.log"
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    found=$(ls "$out/findings" 2>/dev/null | grep -c "^$t-" || true)
    if grep -q "fuzz finding\|ERROR: AddressSanitizer\|runtime error\|ERROR: libFuzzer" "$log"; then
        [ "$found" -gt 0 ] || found=1
    fi
    [ -n "$execs" ] || { execs="?"; found=${found:-1}; [ "$found" -gt 0 ] || found=1; }
    printf '%-8s %14s %9s\n' "$t" "$execs" "$found"
    [ "$found" -eq 0 ] || { status=1; grep -m3 "fuzz finding\|ERROR\|runtime error" "$log" | sed "s/^/  $t: /"; }
done
exit $status
