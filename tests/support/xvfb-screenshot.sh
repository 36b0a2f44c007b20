#!/usr/bin/env bash
# Starts a program under its own Xvfb server, waits for its window by title and saves that
# window as a PNG: xvfb-screenshot.sh SCREENGRAB OUT.png TITLE PROGRAM [ARG...]
set -euo pipefail
grab=$1 out=$2 title=$3
shift 3
if ! fc-list :lang=zh family | grep -q .; then
    echo "no CJK font installed: Chinese captions would render as boxes" >&2
    exit 1
fi
mkdir -p "$(dirname "$out")"
rm -f "$out"
export QT_QPA_PLATFORM=xcb
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    set -u
    source "$1"
    grab=$2 out=$3 title=$4
    shift 4
    "$@" &
    pid=$!
    wait_for_window "$title"
    geometry=$(window_geometry "$title")
    "$grab" "$out" $geometry
    status=$?
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    exit $status
' screenshot "$(dirname "$0")/x11-window.sh" "$grab" "$out" "$title" "$@"
size=$(stat -c %s "$out")
echo "saved $out ($size bytes)"
[ "$size" -gt 10000 ]
