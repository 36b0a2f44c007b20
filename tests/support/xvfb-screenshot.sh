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
    grab=$1 out=$2 title=$3
    shift 3
    "$@" &
    pid=$!
    for _ in $(seq 150); do
        xwininfo -root -tree | grep -qF "\"$title\"" && break
        sleep 0.1
    done
    sleep 1.5
    geometry=$(xwininfo -name "$title" | awk "
        /Absolute upper-left X/ {x=\$4} /Absolute upper-left Y/ {y=\$4}
        /Width:/ {w=\$2} /Height:/ {h=\$2} END {print x, y, w, h}")
    "$grab" "$out" $geometry
    status=$?
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    exit $status
' screenshot "$grab" "$out" "$title" "$@"
size=$(stat -c %s "$out")
echo "saved $out ($size bytes)"
[ "$size" -gt 10000 ]
