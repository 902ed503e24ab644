#!/bin/sh
# Before and after in one run: builds BASE (a commit; by default where this
# branch left main, or main's first parent when run on main itself) with this
# checkout's bench/ laid over it, so that both are measured by the same
# benchmark, then runs bench/run.sh and bench/realport.sh on each in turn,
# ROUNDS times (default 1), alternating which goes first. Prints each figure
# of the port-timing table before and after, the median over the rounds,
# with the 1-minute load average at the start and end of each run, and keeps
# it in compare.txt beside the runs' own tables (build/compare by default,
# TRAVEK_COMPARE_DIR to choose). About half an hour a round on a quiet machine.
#   bench/compare.sh [BASE [ROUNDS]]
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ -n "$1" ]; then
    base=$1
elif [ "$(git rev-parse HEAD)" = "$(git merge-base HEAD main)" ]; then
    base=$(git rev-parse HEAD^1)
else
    base=$(git merge-base HEAD main)
fi
rounds=${2:-1}
work=${TRAVEK_COMPARE_DIR:-$root/build/compare}
parts=effects,program,startup,chain
mkdir -p "$work"
work=$(cd "$work" && pwd)

echo "Base: $(git log -1 --format='%h %s' "$base")"
rm -rf "$work/base"
mkdir -p "$work/base"
git archive "$base" | tar -x -C "$work/base"
rm -rf "$work/base/bench"
cp -R "$root/bench" "$work/base/bench"

# Runs one side's benches: $1 the label, $2 its checkout, $3 its build root, $4 the round.
measure() {
    for bench in run realport; do
        load_start=$(cut -d' ' -f1 /proc/loadavg)
        if [ $bench = run ]; then
            TRAVEK_BUILD_ROOT=$3 "$2/bench/run.sh" "$work/$1-$bench-$4.txt" "$parts" >/dev/null
        else
            TRAVEK_BUILD_ROOT=$3 "$2/bench/realport.sh" "$work/$1-$bench-$4.txt" >/dev/null
        fi
        echo "load	$load_start $(cut -d' ' -f1 /proc/loadavg)	-" >>"$work/$1-$bench-$4.tsv"
    done
}

for round in $(seq "$rounds"); do
    if [ $((round % 2)) = 1 ]; then
        measure before "$work/base" "$work/base-build" "$round"
        measure after "$root" "${TRAVEK_BUILD_ROOT:-$root/build}" "$round"
    else
        measure after "$root" "${TRAVEK_BUILD_ROOT:-$root/build}" "$round"
        measure before "$work/base" "$work/base-build" "$round"
    fi
done

# The median of a figure over a side's runs, and the loads of those runs.
median() {
    cat "$work"/"$1"-*.tsv | awk -F'\t' -v n="$2" '$1 == n { print $2 }' | sort -g |
        awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else printf "%.4g\n", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
loads() {
    for f in "$work"/"$1"-"$2"-*.tsv; do awk -F'\t' '$1 == "load" { printf "%s ", $2 }' "$f"; done
}

{
    echo "Before: $(git log -1 --format='%h' "$base"); after: $(git rev-parse --short HEAD)$(git diff --quiet || echo ' with uncommitted changes'); $rounds round(s)"
    echo
    printf '| %-34s | %-10s | %-10s | %-24s | %-24s | %s\n' figure before after "load before (start end)" "load after (start end)" goal
    while IFS='|' read -r name bench goal; do
        printf '| %-34s | %-10s | %-10s | %-24s | %-24s | %s\n' "$name" "$(median before-$bench "$name")" \
            "$(median after-$bench "$name")" "$(loads before $bench)" "$(loads after $bench)" "$goal"
    done <<'EOF'
zero_glitch_mean_us|run|<= 5
zero_glitch_p99_us|run|<= 50
zero_glitch_program_mean_us|run|<= 5
zero_glitch_program_p99_us|run|<= 50
zero_glitch_chained_mean_us|run|<= 5
zero_glitch_chained_p99_us|run|<= 50
zero_glitch_mean_us|realport|<= 5 (floor: device_round_trip_us)
zero_glitch_p99_us|realport|<= 50
idle_cpu_ratio_to_bare|run|<= 1.5
startup_first_write_ratio_to_bare|run|<= 1.5, or a phase account
startup_first_write_ratio_to_bare_dialog|run|the window system's share
startup_window_system_share|run|the window system's share
helper_idle_wakeups_per_s|realport|<= 100
helper_idle_cpu_percent|realport|<= 0.5
helper_k2000_cpu_percent|realport|<= 5
write_to_wire_median_us|realport|<= 60
write_to_wire_p99_us|realport|<= 300
device_round_trip_us|realport|the floor
status_to_box_p99_ms|realport|<= 25
writer_helper_idle_wakeups_per_s|realport|-
writer_helper_idle_cpu_percent|realport|-
writer_helper_k2000_cpu_percent|realport|-
writer_write_to_wire_median_us|realport|-
writer_write_to_wire_p99_us|realport|-
standin_helper_k2000_cpu_percent|realport|-
EOF
} | tee "$work/compare.txt"
echo
echo "Kept in $work/compare.txt"
