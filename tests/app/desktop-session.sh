#!/usr/bin/env bash
# The real window under Xvfb with the openbox window manager: dragging the window by a free
# spot of its surface moves it, a press on the file list does not, and screenshots of the
# window with three files and with the popup menu open are saved.
#   desktop-session.sh SCREENGRAB VIDMORPH SCREENSHOT_DIR
set -euo pipefail
grab=$1 app=$2 shots=$3
mkdir -p "$shots"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
touch "$work/假期 录像.avi" "$work/clip.mpg" "$work/song.mov"
export QT_QPA_PLATFORM=xcb
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    set -u
    source "$1"
    grab=$2 app=$3 shots=$4 work=$5
    openbox >/dev/null 2>&1 &
    sleep 1
    "$app" "$work/假期 录像.avi" "$work/clip.mpg" "$work/song.mov" &
    pid=$!
    wait_for_window Vidmorph
    origin() { window_geometry Vidmorph | cut -d" " -f1,2; }
    drag() { # from window point ($1,$2) by ($3,$4)
        read -r x y < <(origin)
        xdotool mousemove $((x + $1)) $((y + $2)) mousedown 1
        sleep 0.3
        for step in 1 2 3 4 5; do
            xdotool mousemove $((x + $1 + $3 * step / 5)) $((y + $2 + $4 * step / 5))
            sleep 0.1
        done
        xdotool mouseup 1
        sleep 0.5
    }
    status=0
    before=$(origin)
    drag 560 40 120 80
    after=$(origin)
    read -r bx by <<<"$before"; read -r ax ay <<<"$after"
    echo "surface drag: $before -> $after"
    if [ $((ax - bx)) -lt 100 ] || [ $((ay - by)) -lt 60 ]; then
        echo "FAIL: dragging the surface did not move the window"; status=1
    fi
    drag 200 200 120 80
    list=$(origin)
    echo "list drag: $after -> $list"
    if [ "$list" != "$after" ]; then
        echo "FAIL: a press on the list moved the window"; status=1
    fi
    read -r x y < <(origin)
    "$grab" "$shots/main-files.png" $x $y 698 455 || status=1
    # The "移除文件" button pops up the remove menu at the pointer.
    xdotool mousemove $((x + 235)) $((y + 33)) click 1
    sleep 1
    "$grab" "$shots/popup-menu.png" $x $y 698 455 || status=1
    xdotool key Escape
    kill "$pid"; wait "$pid" 2>/dev/null
    exit $status
' session "$(dirname "$0")/../support/x11-window.sh" "$grab" "$app" "$shots" "$work"
for shot in main-files popup-menu; do
    size=$(stat -c %s "$shots/$shot.png")
    echo "saved $shots/$shot.png ($size bytes)"
    [ "$size" -gt 10000 ]
done
