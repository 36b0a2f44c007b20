#!/usr/bin/env bash
# Start-up time: from starting vidmorph to its window mapped on an X server (Xvfb), the
# median of five starts.
#   bench/startup.sh BUILD_DIR        (prints RESULT lines; VIDMORPH_BENCH_QUICK=1: one start)
set -euo pipefail
build=$(cd "${1:?usage: bench/startup.sh BUILD_DIR}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work XDG_RUNTIME_DIR=$work/runtime VIDMORPH_SETTINGS_DIR=$work/settings
mkdir -m 700 "$work/runtime"
starts=5
[ -n "${VIDMORPH_BENCH_QUICK:-}" ] && starts=1
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    app=$1
    export QT_QPA_PLATFORM=xcb
    times=()
    for _ in $(seq "$2"); do
        start=$(date +%s%N)
        "$app" & pid=$!
        xdotool search --sync --onlyvisible --name "^Vidmorph$" > /dev/null
        end=$(date +%s%N)
        times+=($(( (end - start) / 1000000 )))
        kill "$pid"; wait "$pid" 2>/dev/null
    done
    sorted=($(printf "%s\n" "${times[@]}" | sort -n))
    echo "RESULT startup_ms ${sorted[$(($2 / 2))]} ms"
' startup "$build/Vidmorph/vidmorph" "$starts"
