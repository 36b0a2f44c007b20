#!/usr/bin/env bash
# Prints the console runner's figures against their targets.
#   bench/runner.sh BUILD_DIR [MEGABYTES] [IDLE_SECONDS]
set -euo pipefail
build=${1:?usage: bench/runner.sh BUILD_DIR [MEGABYTES] [IDLE_SECONDS]}
megabytes=${2:-200}
idle=${3:-10}
dir=$build/bench

read -r mb runner_s cat_s < <("$dir/runner_throughput" "$megabytes")
read -r idle_s idle_cpu < <("$dir/runner_idle" "$idle")
read -r _ ticks gap_ms < <("$dir/runner_responsiveness" "$megabytes")

awk -v mb="$mb" -v rs="$runner_s" -v cs="$cat_s" -v is="$idle_s" -v ic="$idle_cpu" \
    -v ticks="$ticks" -v gap="$gap_ms" 'BEGIN {
    rate = mb / rs; ratio = rs / cs
    printf "%-44s %14s %14s %s\n", "figure", "measured", "target", "verdict"
    printf "%-44s %11.1f MB/s %11s %s\n", "throughput through DOSOutputs (" mb " MB)", rate, ">= 100", (rate >= 100 ? "ok" : "MISSED")
    printf "%-44s %11.1f MB/s %14s\n", "same bytes piped into cat", mb / cs, "-"
    printf "%-44s %13.2fx %14s %s\n", "runner time / cat time", ratio, "<= 3", (ratio <= 3 ? "ok" : "MISSED")
    printf "%-44s %12.4f s %12s s %s\n", "CPU while a silent tool sleeps " is " s", ic, "< 0.05", (ic < 0.05 ? "ok" : "MISSED")
    printf "%-44s %11.1f ms %11s ms %s\n", "longest 10 ms tick gap during flood (" ticks " ticks)", gap, "< 50", (gap < 50 ? "ok" : "MISSED")
}'
