#!/usr/bin/env bash
# Today's formats, as RESULT lines for bench/run:
#  1. H264 (index 9, the command the converter builds with its defaults) against HandBrake's CLI
#     with its "Fast 1080p30" preset on one 20 s 1280x720 clip: wall time (best of RUNS), file
#     size, PSNR of the picture against the clip, and PSNR per megabyte (10^6 bytes).
#  2. A batch of two 10 s 1280x720 files through `vidmorph --convert` at the default --jobs,
#     with the encoders' thread limit the headless mode sets and without it
#     (VIDMORPH_ENCODER_THREADS=0): wall and processor time, for H264, H265 and AV1. Each batch
#     must succeed, or the script stops.
# Both encode in software (VIDMORPH_VAAPI_DEVICE is empty), as HandBrake does.
# Usage: bench/modern_formats.sh BUILD_DIR [RUNS]   (default 3)
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD_DIR [RUNS]}" && pwd)
runs=${2:-3}
app="$build/Vidmorph"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# The batch log and scratch files of the headless runs stay in here.
export HOME="$work/home" XDG_CACHE_HOME="$work/home/cache" XDG_DATA_HOME="$work/home/data"
export XDG_CONFIG_HOME="$work/home/config" VIDMORPH_VAAPI_DEVICE=
mkdir -p "$HOME"

# Two scenes: a moving test pattern, then a zoom into a fractal's detail; a tone for sound.
clip() { # OUT SECONDS
    local half
    half=$(awk -v s="$2" 'BEGIN { print s / 2 }')
    ffmpeg -nostdin -hide_banner -v error -y \
        -f lavfi -i "testsrc2=size=1280x720:rate=25:duration=$half" \
        -f lavfi -i "mandelbrot=size=1280x720:rate=25,trim=duration=$half" \
        -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$2" \
        -filter_complex "[0:v][1:v]concat=n=2:v=1:a=0,format=yuv420p[v]" -map "[v]" -map 2:a \
        -ac 2 -c:v ffv1 -c:a flac "$1"
}

# Wall and processor (user + system, children included) seconds of one command: "WALL CPU".
measure() {
    local TIMEFORMAT='%R %U %S'
    { time "$@" > /dev/null 2>&1; } 2> "$work/time" || { echo "failed: $*" >&2; exit 1; }
    awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$work/time"
}

psnr() { # FILE -> the average PSNR of its picture against clip.mkv
    ffmpeg -nostdin -hide_banner -i "$1" -i clip.mkv -lavfi "[0:v][1:v]psnr" -f null - 2>&1 |
        grep -o 'average:[0-9.]*' | cut -d: -f2
}

megabytes() { stat -c %s "$1" | awk '{ printf "%.3f\n", $1 / 1e6 }'; }

clip clip.mkv 20

# The converter's H264 command with the format's defaults (1500 kbit/s, AAC 128 kbit/s stereo
# at 48000 Hz, the source's size and rate).
ours=("$app/data/coder" -i clip.mkv -y -vcodec libx264 -b 1500k -acodec aac -ar 48000 -ab 128k
    -ac 2 ours.mp4)
handbrake=$(command -v HandBrakeCLI || true)
hb=("$handbrake" -i clip.mkv -o handbrake.mp4 --preset "Fast 1080p30")
# NAME FILE SECONDS: the RESULT lines of one encoding; its PSNR and size stay in psnr_NAME, mb_NAME.
report() {
    local mb psnr
    mb=$(megabytes "$2")
    psnr=$(psnr "$2")
    printf -v "mb_$1" %s "$mb"
    printf -v "psnr_$1" %s "$psnr"
    echo "RESULT $1_seconds $3 s"
    echo "RESULT $1_mb $mb MB"
    echo "RESULT $1_psnr $psnr dB"
    awk -v p="$psnr" -v m="$mb" -v n="$1" 'BEGIN { printf "RESULT %s_psnr_per_mb %.3f dB/MB\n", n, p / m }'
}

# The two take turns, as the machine may be shared; the best of RUNS counts for each.
seconds_ours=
seconds_hb=
for _ in $(seq "$runs"); do
    rm -f ours.mp4
    wall=$(measure "${ours[@]}" | cut -d' ' -f1)
    seconds_ours=$(awk -v a="$wall" -v b="${seconds_ours:-$wall}" 'BEGIN { print (a < b ? a : b) }')
    if [ -n "$handbrake" ]; then
        wall=$(measure "${hb[@]}" | cut -d' ' -f1)
        seconds_hb=$(awk -v a="$wall" -v b="${seconds_hb:-$wall}" 'BEGIN { print (a < b ? a : b) }')
    fi
done
report h264 ours.mp4 "$seconds_ours"
if [ -n "$handbrake" ]; then
    report handbrake handbrake.mp4 "$seconds_hb"
    awk -v a="$seconds_ours" -v b="$seconds_hb" 'BEGIN { printf "RESULT h264_time_vs_handbrake %.2f x\n", a / b }'
    awk -v p="$psnr_h264" -v m="$mb_h264" -v q="$psnr_handbrake" -v n="$mb_handbrake" \
        'BEGIN { printf "RESULT h264_quality_per_mb_vs_handbrake %.2f x\n", (p / m) / (q / n) }'
else
    echo "HandBrakeCLI is not installed (apt-get install handbrake-cli): no comparison" >&2
fi

# Two files at once (the default --jobs is the core count) with the thread limit the headless
# mode sets and without it; the runs take turns, and the best of RUNS counts for each figure.
clip a.mkv 10
cp a.mkv b.mkv
batch() { # FORMAT LIMIT: unset, the headless mode sets cores / files at once; 0 is no limit
    rm -rf out
    if [ "$2" = unset ]; then
        env -u VIDMORPH_ENCODER_THREADS "$app/vidmorph" --convert -f "$1" -o out a.mkv b.mkv
    else
        env VIDMORPH_ENCODER_THREADS="$2" "$app/vidmorph" --convert -f "$1" -o out a.mkv b.mkv
    fi
}
for format in H264 H265 AV1; do
    lower=$(echo "$format" | tr 'A-Z' 'a-z')
    times=()
    for _ in $(seq "$runs"); do
        times+=("limited $(measure batch "$format" unset)" "unlimited $(measure batch "$format" 0)")
    done
    printf '%s\n' "${times[@]}" | awk -v f="$lower" '
        { if (!($1 in wall) || $2 < wall[$1]) wall[$1] = $2
          if (!($1 in cpu) || $3 < cpu[$1]) cpu[$1] = $3 }
        END { printf "RESULT threads_%s_limited_wall %s s\n", f, wall["limited"]
              printf "RESULT threads_%s_unlimited_wall %s s\n", f, wall["unlimited"]
              printf "RESULT threads_%s_limited_cpu %s s\n", f, cpu["limited"]
              printf "RESULT threads_%s_unlimited_cpu %s s\n", f, cpu["unlimited"] }'
done
echo "(cores: $(nproc))" >&2
