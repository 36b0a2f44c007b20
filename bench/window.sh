#!/usr/bin/env bash
# Add folder on 100 000 files as RESULT lines for bench/run, with the search's time over
# find's added. Runs offscreen unless a display is given.
#   bench/window.sh BUILD_DIR [FILES]
set -euo pipefail
build=${1:?usage: bench/window.sh BUILD_DIR [FILES]}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
"$build/bench/window_search" ${2:+"$2"} | awk '
    { print }
    $1 == "RESULT" { value[$2] = $3 }
    END {
        if (value["find_seconds"] > 0)
            printf "RESULT search_vs_find %.2f x\n", value["folder_search_seconds"] / value["find_seconds"]
    }'
