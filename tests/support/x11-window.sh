# Sourced by the X11 test scripts: waiting for a program's window and reading where it is.

# Waits (at most 15 s) until a window titled $1 exists, then lets it paint.
wait_for_window() {
    for _ in $(seq 150); do
        xwininfo -root -tree | grep -qF "\"$1\"" && break
        sleep 0.1
    done
    sleep 1.5
}

# Prints "x y width height" of the window titled $1, in screen coordinates.
window_geometry() {
    xwininfo -name "$1" | awk '
        /Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4}
        /Width:/ {w = $2} /Height:/ {h = $2} END {print x, y, w, h}'
}
