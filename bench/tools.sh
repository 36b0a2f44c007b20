#!/usr/bin/env bash
# Wall time of each encoder tool against the one ffmpeg command that does the same encoding,
# on a 20 s 640x360 clip, as RESULT lines for bench/run: the tool's extra wall and CPU time in
# per cent of ffmpeg's; and what coder's RealMedia packet guard costs on that clip, which does
# not need it. Usage: bench/tools.sh BUILD_DIR [RUNS]   (best of RUNS, default 5;
# VIDMORPH_BENCH_QUICK=1: a 1 s clip, once)
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [RUNS]}
runs=${2:-5}
seconds=20
if [ -n "${VIDMORPH_BENCH_QUICK:-}" ]; then
    runs=1 seconds=1
fi
data=$(cd "$build/Vidmorph/data" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

ff=(ffmpeg -nostdin -hide_banner -v error -y)
"${ff[@]}" -f lavfi -i testsrc=size=640x360:rate=25:duration=$seconds \
    -f lavfi -i sine=frequency=440:sample_rate=44100:duration=$seconds -ac 2 \
    -c:v mpeg4 -q:v 2 -c:a aac -shortest in.mp4
"$data/conv" in.mp4 -oac mp3lame -lameopts preset=320 -ovc lavc \
    -lavcopts vcodec=mpeg4:vbitrate=1200 -of avi -o tmp.mp4 > /dev/null

# One run of the command: "WALL CPU" in seconds (CPU = user + system of it and its children).
measure() {
    local TIMEFORMAT='%R %U %S'
    { time "$@" > /dev/null 2>&1; } 2> "$work/time"
    awk '{ printf "%s %.3f\n", $1, $2 + $3 }' "$work/time"
}

# The machine may be shared, so the tool and ffmpeg take turns, and the best of RUNS runs of
# each counts, for wall time and for CPU time.
row() {
    local name=$1
    shift
    local tool=() direct=()
    while [[ $1 != -- ]]; do tool+=("$1"); shift; done
    shift
    direct=("$@")
    local times=()
    for _ in $(seq "$runs"); do
        # A tool never replaces a file, so the last run's output goes first.
        rm -f "${tool[-1]}"
        times+=("tool $(measure "${tool[@]}")" "ffmpeg $(measure "${direct[@]}")")
    done
    printf '%s\n' "${times[@]}" | awk -v wallName="tool_wall_$name" -v cpuName="tool_cpu_$name" "$percent"
}

# The best of each, "tool" against "ffmpeg", as RESULT lines of extra per cent.
percent='
    { if (!($1 in wall) || $2 < wall[$1]) wall[$1] = $2
      if (!($1 in cpu) || $3 < cpu[$1]) cpu[$1] = $3 }
    END { printf "RESULT %s %.1f %%\n", wallName, (wall["tool"] - wall["ffmpeg"]) / wall["ffmpeg"] * 100
          printf "RESULT %s %.1f %%\n", cpuName, (cpu["tool"] - cpu["ffmpeg"]) / cpu["ffmpeg"] * 100 }'

# What the RealMedia packet guard of coder costs on a clip that does not need it: the same
# ffmpeg encoding (arguments up to the video filter) with and without it.
guard_cost() {
    local times=()
    for _ in $(seq "$runs"); do
        times+=("tool $(measure "$@" "${rmguard[@]}" -f rm g1.rm)"
                "ffmpeg $(measure "$@" -vf "$rmpad" -f rm g2.rm)")
    done
    printf '%s\n' "${times[@]}" | awk -v wallName=rm_guard_wall -v cpuName=rm_guard_cpu "$percent"
}

row intermediate "$data/conv" in.mp4 -oac mp3lame -lameopts preset=320 -ovc lavc \
    -lavcopts vcodec=mpeg4:vbitrate=1200 -of avi -o t1.mp4 -- \
    "${ff[@]}" -i in.mp4 -c:v mpeg4 -b:v 1200k -pix_fmt yuv420p -c:a libmp3lame -b:a 320k -f avi d1.mp4
row MPG "$data/conv" in.mp4 -oac lavc -lavcopts acodec=mp2:abitrate=64 -ovc lavc \
    -lavcopts vcodec=mpeg2video:vbitrate=600:vpass=1 -ofps 24 -of lavf -lavfopts format=yuv4mpeg \
    -o t2.mpg -- \
    "${ff[@]}" -i in.mp4 -c:v mpeg2video -b:v 600k -r 24 -pix_fmt yuv420p -c:a mp2 -b:a 64k -f vob d2.mpg
row MP3 "$data/coder" -i in.mp4 -y -vn -ar 48000 -ab 320k -ac 2 t3.mp3 -- \
    "${ff[@]}" -i in.mp4 -vn -ar 48000 -b:a 320k -ac 2 d3.mp3
# coder's rv10 runs with the packet guard; guard_cost below says what that costs.
rmpad='pad=640:368:(ow-iw)/2:(oh-ih)/2'
rmguard=(-maxrate 62891520 -bufsize 524096 -rc_init_occupancy 524096 -rc_max_vbv_use 1
    -vf "fps=fps='max(if(gt(source_fps,0),source_fps,25),2.862)',$rmpad")
row RMVB "$data/coder" -i tmp.mp4 -y -vcodec rv10 -b 1200k -f rm -ab 128k -ac 2 t4.rmvb -- \
    "${ff[@]}" -i tmp.mp4 -c:v rv10 -b:v 1200k "${rmguard[@]}" -f rm -b:a 128k -ac 2 d4.rmvb
row MOV "$data/coder" -i tmp.mp4 -y -ac 2 -ar 48000 -ab 128k t5.mov -- \
    "${ff[@]}" -i tmp.mp4 -ac 2 -ar 48000 -b:a 128k d5.mov
# ffmpeg cannot write AMR-NB itself; its nearest single command is the same video with AAC
# at 8 kHz mono, so this row also shows what the AMR encoding pass costs.
row 3GP "$data/coder2" -i tmp.mp4 -y -s 320x240 -vcodec mpeg4 -acodec amr_nb -ac 1 -ar 8000 \
    -ab 12.2k t6.3gp -- \
    "${ff[@]}" -i tmp.mp4 -s 320x240 -c:v mpeg4 -c:a aac -ac 1 -ar 8000 -f 3gp d6.3gp
guard_cost "${ff[@]}" -i tmp.mp4 -c:v rv10 -b:v 1200k -b:a 128k -ac 2
