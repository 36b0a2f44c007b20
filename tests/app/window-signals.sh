#!/usr/bin/env bash
# The real window under Xvfb, converting, ended by SIGTERM, SIGHUP and SIGINT in turn: each
# ends it as Alt+F4 does, with 128 + the signal's number, and within three seconds neither the
# tool nor its ffmpeg runs, nothing half-written is left in the output folder and setup.ini is
# not written.
#   window-signals.sh VIDMORPH
set -euo pipefail
app=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ffmpeg -v error -f lavfi -i testsrc=size=640x360:rate=25:duration=30 \
    -f lavfi -i sine=duration=30 -c:v mpeg4 -c:a aac -shortest "$work/long clip.mkv"
settings=${VIDMORPH_SETTINGS_DIR:?the test runs with a settings folder of its own}
mkdir -p "$settings" "$work/out"
# MPG into the test's output folder: conv writes the output itself.
printf '"7"\r\n"1"\r\n"1"\r\n"%s/"\r\n"2"\r\n' "$work/out" >"$settings/setup.ini"
cp "$settings/setup.ini" "$work/setup.before"
export QT_QPA_PLATFORM=xcb
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    set -u
    source "$1"
    app=$2 work=$3 settings=$4
    # The tool and ffmpeg processes working on this test'"'"'s files.
    converting() {
        local pid found=1
        for pid in $(pgrep -x "conv|coder|coder2|ffmpeg"); do
            if tr "\0" " " <"/proc/$pid/cmdline" 2>/dev/null | grep -qF "$work"; then
                tr "\0" " " <"/proc/$pid/cmdline"; echo; found=0
            fi
        done
        return $found
    }
    status=0
    for signal in TERM HUP INT; do
        "$app" "$work/long clip.mkv" &
        pid=$!
        wait_for_window Vidmorph
        read -r x y _ < <(window_geometry Vidmorph)
        # The start button, at its place in the window; clicked again should a loaded
        # machine have swallowed the click before the window was ready for it.
        for _ in 1 2 3; do
            converting >/dev/null && break
            xdotool mousemove $((x + 578)) $((y + 394)) click 1
            for _ in $(seq 100); do
                converting >/dev/null && break
                sleep 0.1
            done
        done
        if ! converting >/dev/null; then
            echo "FAIL: the conversion did not start"; status=1; kill -9 "$pid"; continue
        fi
        kill -s "$signal" "$pid"
        code=0; wait "$pid" || code=$?
        expected=$((128 + $(kill -l "$signal")))
        [ "$code" -eq "$expected" ] || { echo "FAIL: SIG$signal: exit $code, not $expected"; status=1; }
        for _ in $(seq 30); do
            converting >/dev/null || break
            sleep 0.1
        done
        if converting; then echo "FAIL: SIG$signal: processes outlived the window"; status=1; fi
        left=$(ls -A "$work/out")
        [ -z "$left" ] || { echo "FAIL: SIG$signal: left in the output folder: $left"; status=1; }
        cmp -s "$settings/setup.ini" "$work/setup.before" ||
            { echo "FAIL: SIG$signal: setup.ini was written"; status=1; }
        echo "SIG$signal: exit $code"
    done
    exit $status
' session "$(dirname "$0")/../support/x11-window.sh" "$app" "$work" "$settings"
