#!/usr/bin/env bash
# The console runner's figures as RESULT lines for bench/run.
#   bench/runner.sh BUILD_DIR        (VIDMORPH_BENCH_QUICK=1: a few megabytes, one round)
set -euo pipefail
build=${1:?usage: bench/runner.sh BUILD_DIR}
dir=$build/bench
if [ -n "${VIDMORPH_BENCH_QUICK:-}" ]; then
    megabytes=5 rounds=1 idle=1
else
    megabytes=200 rounds=3 idle=10
fi

read -r mb runner_s runner_cpu floor_s floor_cpu cat_s cat_cpu \
    < <("$dir/runner_throughput" "$megabytes" "$rounds")
read -r _ idle_cpu < <("$dir/runner_idle" "$idle")
read -r _ _ gap_ms < <("$dir/runner_responsiveness" "$megabytes")

awk -v mb="$mb" -v rs="$runner_s" -v rc="$runner_cpu" -v fs="$floor_s" -v fc="$floor_cpu" \
    -v cs="$cat_s" -v cc="$cat_cpu" -v ic="$idle_cpu" -v gap="$gap_ms" '
function ratio(a, b) { return b > 0 ? a / b : 0 }
BEGIN {
    printf "RESULT runner_mbps %.1f MB/s\n", ratio(mb, rs)
    printf "RESULT runner_cpu_s %.3f s\n", rc
    printf "RESULT floor_cpu_s %.3f s\n", fc
    printf "RESULT cat_mbps %.1f MB/s\n", ratio(mb, cs)
    printf "RESULT cat_cpu_s %.3f s\n", cc
    printf "RESULT runner_vs_cat %.2f x\n", ratio(rs, cs)
    printf "RESULT floor_vs_cat %.2f x\n", ratio(fs, cs)
    printf "RESULT runner_cpu_vs_floor %.2f x\n", ratio(rc, fc)
    printf "RESULT idle_cpu %.4f s\n", ic
    printf "RESULT flood_tick_gap %.1f ms\n", gap
}'
