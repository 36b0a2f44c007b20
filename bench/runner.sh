#!/usr/bin/env bash
# The console runner's figures as RESULT lines for bench/run.
#   bench/runner.sh BUILD_DIR [MEGABYTES] [IDLE_SECONDS]
set -euo pipefail
build=${1:?usage: bench/runner.sh BUILD_DIR [MEGABYTES] [IDLE_SECONDS]}
megabytes=${2:-200}
idle=${3:-10}
dir=$build/bench

read -r mb runner_s cat_s < <("$dir/runner_throughput" "$megabytes")
read -r _ idle_cpu < <("$dir/runner_idle" "$idle")
read -r _ _ gap_ms < <("$dir/runner_responsiveness" "$megabytes")

awk -v mb="$mb" -v rs="$runner_s" -v cs="$cat_s" -v ic="$idle_cpu" -v gap="$gap_ms" 'BEGIN {
    printf "RESULT runner_mbps %.1f MB/s\n", mb / rs
    printf "RESULT cat_mbps %.1f MB/s\n", mb / cs
    printf "RESULT runner_vs_cat %.2f x\n", rs / cs
    printf "RESULT idle_cpu %.4f s\n", ic
    printf "RESULT flood_tick_gap %.1f ms\n", gap
}'
