#!/usr/bin/env bash
# Today's video formats as the converter writes them by default (`vidmorph --convert -f H264`,
# H265, AV1: whatever their defaults are when this runs), on two 20 s 1280x720 clips: a calm
# one (still colour bars with a small moving test picture) and a detailed, noisy one (a zoom into a
# fractal with grain). Each is set against
#  - the encoder it is built on at quality-targeted rate control and the same preset (x264
#    CRF 22, x265 CRF 26, SVT-AV1 CRF 35): video bitrate, PSNR and SSIM against the clip. On
#    the calm clip the default should need at most 1.1 times the bits for at least the same
#    SSIM; on the detailed one it should come within 1 dB PSNR.
#  - HandBrake's CLI with its own fast preset for the codec ("Fast 1080p30", "Fast 2160p60 4K
#    HEVC", "Fast 2160p60 4K AV1"; comb detection, decombing and cropping off, as the clips are
#    progressive and whole): processor and wall time for both clips, which the default should
#    not exceed; and, at equal size, HandBrake's PSNR on the detailed clip at the default's
#    exact video bitrate.
# Sizes are the video stream's own bytes. Quality is never divided by size: the comparisons are
# at equal quality (the size each needs) or at equal size (the quality each reaches). Times are
# processor time (user + system of everything a run starts), which other programs on a shared
# machine hardly change, and wall time, which they do. Encoding is in software
# (VIDMORPH_VAAPI_DEVICE is empty), as HandBrake's is.
#   bench/modern_formats.sh BUILD_DIR     (VIDMORPH_BENCH_QUICK=1: 1 s 320x180 clips)
#   bench/modern_formats.sh --rows        (the rows of bench/run's table)
set -euo pipefail

# format | name in results | peer encoder and its arguments | HandBrake preset
# The peers' presets are the ones tools/coder/Encoders.cpp gives each codec.
codecs=(
    "H264|h264|x264 CRF 22|-c:v libx264 -preset veryfast -crf 22|Fast 1080p30"
    "H265|h265|x265 CRF 26|-c:v libx265 -preset veryfast -crf 26 -x265-params log-level=error|Fast 2160p60 4K HEVC"
    "AV1|av1|SVT-AV1 CRF 35|-c:v libsvtav1 -preset 10 -crf 35|Fast 2160p60 4K AV1"
)

if [ "${1:-}" = --rows ]; then
    for entry in "${codecs[@]}"; do
        IFS='|' read -r format f peer _ preset <<< "$entry"
        cat <<EOF
modern_formats | ${f}_calm_kbps              | $format default, calm clip, video bitrate         | -       | kbit/s
modern_formats | ${f}_calm_peer_kbps         | $peer, calm clip, video bitrate     | -       | kbit/s
modern_formats | ${f}_calm_size_vs_peer      | calm: $format size / $peer's         | <= 1.1  | x
modern_formats | ${f}_calm_ssim              | calm: $format SSIM                                | -       |
modern_formats | ${f}_calm_peer_ssim         | calm: $peer SSIM                     | -       |
modern_formats | ${f}_calm_ssim_vs_peer      | calm: $format SSIM - $peer's         | >= 0    |
modern_formats | ${f}_calm_psnr              | calm: $format PSNR                                | -       | dB
modern_formats | ${f}_calm_peer_psnr         | calm: $peer PSNR                     | -       | dB
modern_formats | ${f}_detailed_kbps          | $format default, detailed clip, video bitrate     | -       | kbit/s
modern_formats | ${f}_detailed_peer_kbps     | $peer, detailed clip, video bitrate | -       | kbit/s
modern_formats | ${f}_detailed_psnr          | detailed: $format PSNR                            | -       | dB
modern_formats | ${f}_detailed_peer_psnr     | detailed: $peer PSNR                 | -       | dB
modern_formats | ${f}_detailed_psnr_vs_peer  | detailed: $format PSNR - $peer's     | >= -1   | dB
modern_formats | ${f}_detailed_ssim          | detailed: $format SSIM                            | -       |
modern_formats | ${f}_detailed_peer_ssim     | detailed: $peer SSIM                 | -       |
modern_formats | ${f}_cpu_s                  | $format default, both clips, CPU time              | -       | s
modern_formats | ${f}_wall_s                 | $format default, both clips, wall time             | -       | s
modern_formats | ${f}_handbrake_cpu_s        | HandBrake "$preset", both clips, CPU | -   | s
modern_formats | ${f}_handbrake_wall_s       | HandBrake "$preset", both clips, wall | -  | s
modern_formats | ${f}_cpu_vs_handbrake       | $format CPU time / HandBrake's                    | <= 1    | x
modern_formats | ${f}_same_size_handbrake_kbps | detailed: HandBrake at $format's bitrate      | -       | kbit/s
modern_formats | ${f}_same_size_handbrake_psnr | detailed: HandBrake PSNR at that size         | -       | dB
modern_formats | ${f}_psnr_vs_handbrake_same_size | detailed: $format PSNR - HandBrake's, same size | - | dB
EOF
    done
    exit 0
fi

build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
seconds=20 size=1280x720 inset=320x180
if [ -n "${VIDMORPH_BENCH_QUICK:-}" ]; then
    seconds=1 size=320x180 inset=80x46
fi
app="$build/Vidmorph/vidmorph"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# The batch logs and scratch files of the headless runs stay in here.
export HOME="$work/home" XDG_CACHE_HOME="$work/home/cache" XDG_DATA_HOME="$work/home/data"
export XDG_CONFIG_HOME="$work/home/config" VIDMORPH_VAAPI_DEVICE=
mkdir -p "$HOME"
handbrake=$(command -v HandBrakeCLI || true)

lossless() { # OUT GRAPH INPUT...: the clip as FFV1, with a stereo tone as input 0 for its sound
    local out=$1 graph=$2
    shift 2
    ffmpeg -nostdin -hide_banner -v error -y \
        -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$seconds" "$@" \
        -filter_complex "$graph" -map "[v]" -map 0:a -t "$seconds" -ac 2 -c:v ffv1 -c:a flac "$out"
}
lossless calm.mkv "[1][2]overlay=x='mod(t*W/16,W-w)':y='mod(t*H/18,H-h)',format=yuv420p[v]" \
    -f lavfi -i "smptehdbars=size=$size:rate=25" \
    -f lavfi -i "testsrc2=size=$inset:rate=25"
lossless detailed.mkv "[1]noise=alls=6:allf=t,format=yuv420p[v]" \
    -f lavfi -i "mandelbrot=size=$size:rate=25"

# "WALL CPU" in seconds of one command and everything it starts.
measure() {
    local TIMEFORMAT='%R %U %S'
    { time "$@" > /dev/null 2>&1; } 2> "$work/time" || { echo "failed: $*" >&2; return 1; }
    awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$work/time"
}
kbps() { # FILE -> the video stream's bitrate over the clip's length
    ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 "$1" |
        awk -v s="$seconds" '{ bytes += $1 } END { printf "%.0f\n", bytes * 8 / s / 1000 }'
}
quality() { # FILE CLIP -> "PSNR SSIM" of the picture against the clip (8-bit 4:2:0 both)
    ffmpeg -nostdin -hide_banner -i "$1" -i "$2" -lavfi \
        "[0:v]format=yuv420p,split[a][b];[1:v]format=yuv420p,split[c][d];[a][c]psnr;[b][d]ssim" \
        -f null - 2>&1 |
        awk '/PSNR y:/ { for (i = 1; i <= NF; ++i) if ($i ~ /^average:/) { sub(/average:/, "", $i); p = $i } }
             /SSIM Y:/ { for (i = 1; i <= NF; ++i) if ($i ~ /^All:/) { sub(/All:/, "", $i); s = $i } }
             END { if (p == "" || s == "") exit 1; printf "%.2f %.4f\n", p, s }'
}
add() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f\n", a + b }'; }
ratio() { # NAME A B
    awk -v n="$1" -v a="$2" -v b="$3" 'BEGIN { printf "RESULT %s %.2f x\n", n, a / b }'
}
difference() { # NAME A B DECIMALS [UNIT]
    awk -v n="$1" -v a="$2" -v b="$3" -v d="$4" -v u="${5:-}" \
        'BEGIN { printf "RESULT %s " ("%." d "f") " %s\n", n, a - b, u }'
}
result() { echo "RESULT $1 $2 ${3:-}"; }

for entry in "${codecs[@]}"; do
    IFS='|' read -r format f _ peerArguments preset <<< "$entry"
    read -ra peerArguments <<< "$peerArguments"
    wall=0 cpu=0 hbWall=0 hbCpu=0
    for clip in calm detailed; do
        mkdir -p "ours-$f-$clip"
        times=$(measure "$app" --convert -q --jobs 1 -f "$format" -o "ours-$f-$clip" "$clip.mkv")
        read -r w c <<< "$times"
        wall=$(add "$wall" "$w") cpu=$(add "$cpu" "$c")
        ours=$(find "ours-$f-$clip" -type f)
        [ -n "$ours" ] || { echo "no $format output for the $clip clip" >&2; exit 1; }
        # SVT-AV1 prints its settings whatever ffmpeg's log level; they stay in a log of their own.
        ffmpeg -nostdin -hide_banner -v error -y -i "$clip.mkv" -an "${peerArguments[@]}" \
            "peer-$f-$clip.mkv" 2> peer.log || { cat peer.log >&2; exit 1; }
        ourQuality=$(quality "$ours" "$clip.mkv")
        peerQuality=$(quality "peer-$f-$clip.mkv" "$clip.mkv")
        read -r psnr ssim <<< "$ourQuality"
        read -r peerPsnr peerSsim <<< "$peerQuality"
        size=$(kbps "$ours") peerSize=$(kbps "peer-$f-$clip.mkv")
        result "${f}_${clip}_kbps" "$size" kbit/s
        result "${f}_${clip}_peer_kbps" "$peerSize" kbit/s
        result "${f}_${clip}_psnr" "$psnr" dB
        result "${f}_${clip}_peer_psnr" "$peerPsnr" dB
        result "${f}_${clip}_ssim" "$ssim"
        result "${f}_${clip}_peer_ssim" "$peerSsim"
        if [ "$clip" = calm ]; then
            ratio "${f}_calm_size_vs_peer" "$size" "$peerSize"
            difference "${f}_calm_ssim_vs_peer" "$ssim" "$peerSsim" 4
        else
            difference "${f}_detailed_psnr_vs_peer" "$psnr" "$peerPsnr" 2 dB
        fi

        if [ -n "$handbrake" ]; then
            hb=("$handbrake" -i "$clip.mkv" --preset "$preset" --no-comb-detect --no-decomb
                --crop-mode none)
            times=$(measure "${hb[@]}" -o "hb-$f-$clip.mp4")
            read -r w c <<< "$times"
            hbWall=$(add "$hbWall" "$w") hbCpu=$(add "$hbCpu" "$c")
            if [ "$clip" = detailed ]; then
                measure "${hb[@]}" --vb "$size" -o "hb-same-$f.mp4" > /dev/null
                hbQuality=$(quality "hb-same-$f.mp4" "$clip.mkv")
                read -r hbPsnr _ <<< "$hbQuality"
                result "${f}_same_size_handbrake_kbps" "$(kbps "hb-same-$f.mp4")" kbit/s
                result "${f}_same_size_handbrake_psnr" "$hbPsnr" dB
                difference "${f}_psnr_vs_handbrake_same_size" "$psnr" "$hbPsnr" 2 dB
            fi
        fi
    done
    result "${f}_cpu_s" "$cpu" s
    result "${f}_wall_s" "$wall" s
    if [ -n "$handbrake" ]; then
        result "${f}_handbrake_cpu_s" "$hbCpu" s
        result "${f}_handbrake_wall_s" "$hbWall" s
        ratio "${f}_cpu_vs_handbrake" "$cpu" "$hbCpu"
    else
        for name in handbrake_cpu_s handbrake_wall_s cpu_vs_handbrake same_size_handbrake_kbps \
            same_size_handbrake_psnr psnr_vs_handbrake_same_size; do
            echo "SKIPPED ${f}_$name HandBrakeCLI is not installed (apt-get install handbrake-cli)"
        done
    fi
done
