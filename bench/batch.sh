#!/usr/bin/env bash
# What the batch driver adds to the tools themselves: ten 5 s files to MP3 and ten to MPG
# through `vidmorph --convert` (the same driver the window runs) against a shell loop that
# runs the very same tool command lines.
#   bench/batch.sh BUILD_DIR        (prints RESULT lines; VIDMORPH_BENCH_QUICK=1: two 1 s files)
set -euo pipefail
build=$(cd "${1:?usage: bench/batch.sh BUILD_DIR}" && pwd)
app=$build/Vidmorph
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
export QT_QPA_PLATFORM=offscreen

files=10 seconds=5
if [ -n "${VIDMORPH_BENCH_QUICK:-}" ]; then
    files=2 seconds=1
fi
mkdir -p "$work/in"
for i in $(seq 1 "$files"); do
    ffmpeg -v error -f lavfi -i "testsrc=size=320x240:rate=25:duration=$seconds" \
        -f lavfi -i "sine=frequency=$((300 + i * 20)):sample_rate=44100:duration=$seconds" \
        -c:v mpeg4 -q:v 5 -c:a aac -ac 2 -shortest "$work/in/clip$i.mp4"
done

seconds() { # command...
    local start end
    start=$(date +%s.%N)
    "$@" > /dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}

driver_total=0
loop_total=0
for format in MP3 MPG; do
    rm -rf "$work/out"
    driver=$(seconds "$app/vidmorph" --convert --jobs 1 --format "$format" --output "$work/out" "$work"/in/*.mp4)
    [ "$(ls "$work/out" | wc -l)" -eq "$files" ] || { echo "the $format batch did not convert every file" >&2; exit 1; }
    rm -rf "$work/out"
    mkdir -p "$work/out"
    loop() {
        local f n=0
        for f in "$work"/in/*.mp4; do
            n=$((n + 1))
            if [ "$format" = MP3 ]; then
                "$app/data/coder" -i "$f" -y -vn -ar 48000 -ab 320k -ac 2 "$work/out/clip$n.mp3"
            else
                "$app/data/conv" "$f" -oac lavc -lavcopts acodec=mp2:abitrate=64 -ovc lavc \
                    -lavcopts vcodec=mpeg2video:vbitrate=600:vpass=1 -ofps 24 -of lavf \
                    -lavfopts format=yuv4mpeg -o "$work/out/clip$n.mpg"
            fi
        done
    }
    shell=$(seconds loop)
    echo "RESULT batch_${format}_driver $(printf '%.2f' "$driver") s"
    echo "RESULT batch_${format}_loop $(printf '%.2f' "$shell") s"
    driver_total=$(echo "$driver_total + $driver" | bc -l)
    loop_total=$(echo "$loop_total + $shell" | bc -l)
done
echo "RESULT batch_overhead $(printf '%.1f' "$(echo "($driver_total / $loop_total - 1) * 100" | bc -l)") %"
