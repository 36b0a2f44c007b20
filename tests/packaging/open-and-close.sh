#!/usr/bin/env bash
# Starts a Vidmorph executable under an Xvfb server of its own with the openbox window manager,
# waits for its window, closes it as a user does (Alt+F4, which openbox turns into a close
# request) and exits with the program's own exit status.
#   open-and-close.sh VIDMORPH
# Exit 90: the window never appeared; 91: the program was still running after three closes.
set -uo pipefail
export QT_QPA_PLATFORM=xcb
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    set -u
    source "$1"
    app=$2
    openbox >/dev/null 2>&1 &
    wm=$!
    trap "kill $wm 2>/dev/null" EXIT
    sleep 1
    "$app" &
    pid=$!
    wait_for_window Vidmorph
    window=$(xdotool search --onlyvisible --name "^Vidmorph\$" | head -n 1)
    if [ -z "$window" ]; then
        echo "no window titled Vidmorph"
        kill "$pid"
        exit 90
    fi
    echo "window $window: $(window_geometry Vidmorph)"
    # A loaded machine may swallow a key press; the close is asked again, three times at most.
    for _ in 1 2 3; do
        xdotool windowactivate --sync "$window" key --clearmodifiers alt+F4
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -0 "$pid" 2>/dev/null || break
    done
    if kill -0 "$pid" 2>/dev/null; then
        echo "still running after the close"
        kill -9 "$pid"
        exit 91
    fi
    wait "$pid"
' open-and-close "$(dirname "$0")/../support/x11-window.sh" "$1"
