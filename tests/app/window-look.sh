#!/usr/bin/env bash
# The real window under Xvfb with the openbox window manager, seen as a user sees it: the open
# format list, the unlit corner buttons, a list's tool tip, Qt's file dialog, the
# options dialog with its open list and a message box, the feedback form and the window
# during a batch are saved as screenshots. Every secondary window must carry its caption
# exactly, with nothing appended.
#   window-look.sh SCREENGRAB VIDMORPH SCREENSHOT_DIR
set -euo pipefail
grab=$1 app=$2 shots=$3
mkdir -p "$shots"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
settings=${VIDMORPH_SETTINGS_DIR:?the test runs with a settings folder of its own}
mkdir -p "$settings" "$work/out" "$work/clips"
# RMVB, into the test's output folder.
printf '"13"\r\n"1"\r\n"1"\r\n"%s/"\r\n"0"\r\n' "$work/out" >"$settings/setup.ini"
touch "$work/clips/假期 录像.avi" "$work/clips/clip.mpg"
# Long enough that the batch is still at work when the screenshot is taken.
ffmpeg -v error -f lavfi -i testsrc=size=640x360:rate=25:duration=30 \
    -f lavfi -i sine=duration=30 -c:v mpeg4 -c:a aac -shortest "$work/clips/long.mkv"
shots_taken=(format-list corner-unlit list-tooltip file-dialog options-dialog
    options-list message-box feedback-form converting)
for shot in "${shots_taken[@]}"; do rm -f "$shots/$shot.png"; done
export QT_QPA_PLATFORM=xcb
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    set -u
    source "$1"
    grab=$2 app=$3 shots=$4 work=$5
    openbox >/dev/null 2>&1 &
    sleep 1
    cd "$work/clips"
    "$app" &
    pid=$!
    status=0
    wait_for_window Vidmorph
    read -r x y _ < <(window_geometry Vidmorph)
    at() { xdotool mousemove $((x + $1)) $((y + $2)); }
    # A window titled exactly $1 (xwininfo quotes titles), within 15 s.
    expect_window() {
        wait_for_window "$1"
        if ! xwininfo -root -tree | grep -qF "\"$1\""; then
            echo "FAIL: no window titled exactly \"$1\":"
            xwininfo -root -tree | grep -F "$1" || true
            status=1
            return 1
        fi
    }
    shoot() { # name, then x y w h on the screen
        "$grab" "$shots/$1.png" "$2" "$3" "$4" "$5" || { echo "FAIL: screenshot $1"; status=1; }
    }

    # The corner buttons, unlit: the pointer rests on the free surface.
    at 400 40; sleep 0.5
    shoot corner-unlit $((x + 540)) "$y" 158 48

    # The video bitrate list with its tool tip.
    at 530 158; sleep 0.3; at 532 157; sleep 2
    shoot list-tooltip $((x + 420)) $((y + 120)) 520 110

    # The format list, open, with the item below the current one highlighted.
    at 584 101; xdotool click 1; sleep 1
    xdotool key Down Down; sleep 0.5
    # The open list may reach past the window'"'"'s right edge.
    shoot format-list "$x" "$y" 820 455
    xdotool key Escape; sleep 0.5

    # Add file: Qt'"'"'s own file dialog, in Chinese.
    at 47 33; xdotool click 1
    if expect_window "Open Files"; then
        read -r fx fy fw fh < <(window_geometry "Open Files")
        shoot file-dialog "$fx" "$fy" "$fw" "$fh"
        xdotool key Escape; sleep 0.5
    fi

    # Settings: the options dialog, its open ON/OFF list and a message box of its own.
    at 329 33; xdotool click 1
    if expect_window "选项设置"; then
        read -r ox oy ow oh < <(window_geometry "选项设置")
        shoot options-dialog "$ox" "$oy" "$ow" "$oh"
        xdotool mousemove $((ox + 182)) $((oy + 29)) click 1; sleep 1
        xdotool key Down; sleep 0.5
        shoot options-list "$ox" "$oy" "$ow" $((oh + 40))
        xdotool key Escape; sleep 0.3
        xdotool mousemove $((ox + 30)) $((oy + 62)) click 1; sleep 0.3
        xdotool mousemove $((ox + 126)) $((oy + 88)) click --repeat 3 1; sleep 0.3
        xdotool type 60; sleep 0.3
        xdotool mousemove $((ox + 115)) $((oy + 148)) click 1
        if expect_window "分钟"; then
            read -r mx my mw mh < <(window_geometry "分钟")
            # With the title bar the window manager draws above the box.
            shoot message-box $((mx - 4)) $((my - 30)) $((mw + 8)) $((mh + 34))
            xdotool key Return; sleep 0.5
        fi
        xdotool mousemove $((ox + 190)) $((oy + 148)) click 1; sleep 0.5
    fi

    # The feedback form.
    at 648 438; xdotool click 1
    if expect_window "建议和意见"; then
        read -r sx sy sw sh < <(window_geometry "建议和意见")
        shoot feedback-form $((sx - 4)) $((sy - 30)) $((sw + 8)) $((sh + 34))
        xdotool key Escape; sleep 0.5
    fi

    # A batch: a second copy hands its file over, Start locks the lists and the feedback link.
    "$app" "$work/clips/long.mkv"
    sleep 1
    at 578 394; xdotool click 1
    for _ in $(seq 100); do
        pgrep -f "$work/clips/long.mkv" >/dev/null && break
        sleep 0.1
    done
    at 648 438; sleep 0.5
    shoot converting "$x" "$y" 698 455
    # Stopped, so that no output folder opens and no sound plays.
    at 578 394; xdotool click 1; sleep 1

    kill "$pid"; wait "$pid" 2>/dev/null
    exit $status
' session "$(dirname "$0")/../support/x11-window.sh" "$grab" "$app" "$shots" "$work"
# A PNG of a few hundred bytes is little more than its header: a crop of nothing.
for shot in "${shots_taken[@]}"; do
    size=$(stat -c %s "$shots/$shot.png")
    echo "saved $shots/$shot.png ($size bytes)"
    [ "$size" -gt 400 ]
done
