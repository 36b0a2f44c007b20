#!/usr/bin/env bash
# Add folder on 100 000 files as RESULT lines for bench/run, with the search's time over
# find's added. Runs offscreen unless a display is given.
#   bench/window.sh BUILD_DIR [FILES]     (VIDMORPH_BENCH_QUICK=1: 2000 files)
set -euo pipefail
build=${1:?usage: bench/window.sh BUILD_DIR [FILES]}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
files=${2:-}
[ -n "${VIDMORPH_BENCH_QUICK:-}" ] && files=2000
"$build/bench/window_search" ${files:+"$files"} | awk '
    { print }
    $1 == "RESULT" { value[$2] = $3 }
    END {
        if (value["find_seconds"] > 0)
            printf "RESULT search_vs_find %.2f x\n", value["folder_search_seconds"] / value["find_seconds"]
    }'
