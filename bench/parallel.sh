#!/usr/bin/env bash
# The headless batch on every core: six 10 s 960x540 clips to MPG with the default job count,
# against GNU parallel running the very same tool command lines on all cores, and against one
# file at a time; the cost of the length probes behind the time left; the memory each running
# job adds to the program.
#   bench/parallel.sh BUILD_DIR        (prints RESULT lines)
# VIDMORPH_BENCH_QUICK=1: two 1 s 320x180 clips, each variant once.
set -euo pipefail
build=$(cd "${1:?usage: bench/parallel.sh BUILD_DIR}" && pwd)
app=$build/Vidmorph
command -v parallel >/dev/null || { echo "GNU parallel is not installed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
cores=$(nproc)

files=6 seconds=10 size=960x540 tries=3
if [ -n "${VIDMORPH_BENCH_QUICK:-}" ]; then
    files=2 seconds=1 size=320x180 tries=1
fi
mkdir -p "$work/in"
for i in $(seq 1 "$files"); do
    ffmpeg -v error -f lavfi -i "testsrc2=size=$size:rate=25:duration=$seconds" \
        -f lavfi -i "sine=frequency=$((300 + i * 20)):sample_rate=44100:duration=$seconds" \
        -c:v mpeg4 -q:v 4 -c:a aac -ac 2 -shortest "$work/in/clip$i.mp4"
done

# Wall and CPU seconds of a command and all it starts.
measure() {
    local TIMEFORMAT='%R %U %S' line
    line=$( { time "$@" >/dev/null 2>&1; } 2>&1 )
    read -r wall user sys <<<"$line"
    cpu=$(echo "$user + $sys" | bc -l)
}
best() { # runs a command `tries` times, keeps the fastest wall time
    local fastest=
    for _ in $(seq "$tries"); do
        rm -rf "$work/out"
        mkdir -p "$work/out"
        measure "$@"
        if [ -z "$fastest" ] || [ "$(echo "$wall < $fastest" | bc -l)" -eq 1 ]; then
            fastest=$wall fastestCpu=$cpu
        fi
    done
    wall=$fastest cpu=$fastestCpu
}
tools() { # the MPG command line of one input, as the converter builds it
    "$app/data/conv" "$1" -oac lavc -lavcopts acodec=mp2:abitrate=64 -ovc lavc \
        -lavcopts vcodec=mpeg2video:vbitrate=600:vpass=1 -ofps 24 -of lavf \
        -lavfopts format=yuv4mpeg -o "$work/out/$(basename "$1" .mp4).mpg"
}
export -f tools
export app work

best "$app/vidmorph" --convert -q -f MPG -o "$work/out" "$work"/in/*.mp4
[ "$(ls "$work/out" | wc -l)" -eq "$files" ] || { echo "the batch did not convert every file" >&2; exit 1; }
jobs_wall=$wall jobs_cpu=$cpu
best parallel -j"$cores" tools ::: "$work"/in/*.mp4
parallel_wall=$wall
best "$app/vidmorph" --convert -q --jobs 1 -f MPG -o "$work/out" "$work"/in/*.mp4
single_wall=$wall
echo "RESULT parallel_jobs_s $(printf '%.2f' "$jobs_wall") s"
echo "RESULT parallel_gnu_s $(printf '%.2f' "$parallel_wall") s"
echo "RESULT parallel_single_s $(printf '%.2f' "$single_wall") s"
echo "RESULT parallel_vs_gnu $(printf '%.2f' "$(echo "$jobs_wall / $parallel_wall" | bc -l)") x"
echo "RESULT parallel_vs_single $(printf '%.2f' "$(echo "$jobs_wall / $single_wall" | bc -l)") x"

# The time left comes from the lengths the tools tell and the files' sizes, with no probe of
# its own: what the program itself (scheduler, estimate, console) costs, against the batch.
own_ticks() { # pid
    awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0
}
# Memory: the program's own peak, sampled, with one job and with four at once.
peak() { # jobs; prints the peak memory in kB and the program's own CPU ticks
    local pid most=0 now ticks=0 t
    rm -rf "$work/out"
    "$app/vidmorph" --convert -q --jobs "$1" -f MPG -o "$work/out" "$work"/in/*.mp4 \
        >/dev/null 2>&1 &
    pid=$!
    while kill -0 "$pid" 2>/dev/null; do
        now=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
        [ "${now:-0}" -gt "$most" ] && most=$now
        t=$(own_ticks "$pid")
        [ "${t:-0}" -gt "$ticks" ] && ticks=$t
        sleep 0.05
    done
    wait "$pid" || true
    echo "$most $ticks"
}
read -r one _ < <(peak 1)
read -r four ticks < <(peak 4)
echo "RESULT program_cpu_share $(printf '%.2f' "$(echo "$ticks / $(getconf CLK_TCK) / $jobs_cpu * 100" | bc -l)") %"
echo "RESULT memory_one_job $(printf '%.1f' "$(echo "$one / 1024" | bc -l)") MB"
echo "RESULT memory_per_job $(printf '%.2f' "$(echo "($four - $one) / 3 / 1024" | bc -l)") MB"
