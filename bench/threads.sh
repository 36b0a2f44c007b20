#!/usr/bin/env bash
# Encoder threads when several files convert at once: a batch of two 10 s 1280x720 clips to
# H264 and to AV1 through `vidmorph --convert` (the default job count, the default thread
# policy), against
#  - the same batch with each encoder limited to cores / jobs threads
#    (VIDMORPH_ENCODER_THREADS, the limit the headless mode once set by itself), and
#  - one encoder per file with ffmpeg's own threading: GNU parallel starting one
#    `vidmorph --convert --jobs 1` per file, as many at once as the batch runs.
# On the machine as it is ("idle") and with `stress-ng --cpu 2` beside it ("loaded"). Wall and
# processor time (user + system of everything started), the best of RUNS, the variants taking
# turns. Encoding is in software (VIDMORPH_VAAPI_DEVICE is empty).
#   bench/threads.sh BUILD_DIR [RUNS]   (default 2; VIDMORPH_BENCH_QUICK=1: 1 s 320x180, once)
#   bench/threads.sh --rows               (the rows of bench/run's table)
set -euo pipefail

formats=(H264 AV1)
loads=(idle loaded)
if [ "${1:-}" = --rows ]; then
    for format in "${formats[@]}"; do
        f=$(echo "$format" | tr 'A-Z' 'a-z')
        for load in "${loads[@]}"; do
            cat <<EOF
threads | threads_${f}_${load}_batch_wall   | $format, $load: batch of 2 files, wall              | -       | s
threads | threads_${f}_${load}_limited_wall | $format, $load: threads held to cores/jobs, wall    | -       | s
threads | threads_${f}_${load}_own_wall     | $format, $load: encoder per file, own threads, wall | -      | s
threads | threads_${f}_${load}_batch_cpu    | $format, $load: batch of 2 files, CPU               | -       | s
threads | threads_${f}_${load}_limited_cpu  | $format, $load: threads held to cores/jobs, CPU     | -       | s
threads | threads_${f}_${load}_own_cpu      | $format, $load: encoder per file, own threads, CPU  | -      | s
threads | threads_${f}_${load}_vs_own       | $format, $load: batch wall / encoder per file's   | <= 1.05 | x
EOF
        done
    done
    exit 0
fi

build=$(cd "${1:?usage: $0 BUILD_DIR [RUNS]}" && pwd)
runs=${2:-2}
seconds=10 size=1280x720
if [ -n "${VIDMORPH_BENCH_QUICK:-}" ]; then
    runs=1 seconds=1 size=320x180
fi
app="$build/Vidmorph/vidmorph"
command -v parallel > /dev/null || { echo "GNU parallel is not installed" >&2; exit 1; }
work=$(mktemp -d)
load_pids=()
stop_load() {
    local pid
    for pid in "${load_pids[@]}"; do
        kill "$pid" 2> /dev/null || true
        wait "$pid" 2> /dev/null || true
    done
    load_pids=()
}
trap 'stop_load; rm -rf "$work"' EXIT
cd "$work"
export HOME="$work/home" XDG_CACHE_HOME="$work/home/cache" XDG_DATA_HOME="$work/home/data"
export XDG_CONFIG_HOME="$work/home/config" VIDMORPH_VAAPI_DEVICE=
mkdir -p "$HOME"
cores=$(nproc)
jobs=$((cores < 2 ? cores : 2))

ffmpeg -nostdin -hide_banner -v error -y \
    -f lavfi -i "testsrc2=size=$size:rate=25:duration=$seconds" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$seconds" \
    -ac 2 -c:v ffv1 -c:a flac a.mkv
cp a.mkv b.mkv

# Two CPU hogs beside the runs: stress-ng where it is installed, else two busy shells.
start_load() {
    if command -v stress-ng > /dev/null; then
        stress-ng --cpu 2 --quiet &
        load_pids+=($!)
    else
        echo "stress-ng is not installed: two busy shells load the machine" >&2
        local i
        for i in 1 2; do
            bash -c 'while :; do :; done' &
            load_pids+=($!)
        done
    fi
}

# "WALL CPU" in seconds of one command and everything it starts.
measure() {
    local TIMEFORMAT='%R %U %S'
    { time "$@" > /dev/null 2>&1; } 2> "$work/time" || { echo "failed: $*" >&2; exit 1; }
    awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$work/time"
}
convert_each() { # FORMAT OUT FILE: one file, one job, the encoder's own threads
    env -u VIDMORPH_ENCODER_THREADS "$app" --convert -q --jobs 1 -f "$1" -o "$2" "$3"
}
export -f convert_each
export app
variant() { # FORMAT NAME
    rm -rf out
    case $2 in
    batch) env -u VIDMORPH_ENCODER_THREADS "$app" --convert -q --jobs "$jobs" -f "$1" -o out a.mkv b.mkv ;;
    limited)
        env VIDMORPH_ENCODER_THREADS=$((cores / jobs)) "$app" --convert -q --jobs "$jobs" -f "$1" \
            -o out a.mkv b.mkv
        ;;
    own) parallel -j"$jobs" convert_each "$1" out ::: a.mkv b.mkv ;;
    esac
    [ "$(ls out | wc -l)" -eq 2 ] || { echo "the $1 $2 batch did not convert both files" >&2; return 1; }
}

for load in "${loads[@]}"; do
    [ "$load" = loaded ] && start_load
    for format in "${formats[@]}"; do
        f=$(echo "$format" | tr 'A-Z' 'a-z')
        times=()
        for _ in $(seq "$runs"); do
            for name in batch limited own; do
                result=$(measure variant "$format" "$name")
                times+=("$name $result")
            done
        done
        printf '%s\n' "${times[@]}" | awk -v p="threads_${f}_${load}" '
            { if (!($1 in wall) || $2 < wall[$1]) wall[$1] = $2
              if (!($1 in cpu) || $3 < cpu[$1]) cpu[$1] = $3 }
            END { for (name in wall) {
                      printf "RESULT %s_%s_wall %.2f s\n", p, name, wall[name]
                      printf "RESULT %s_%s_cpu %.2f s\n", p, name, cpu[name] }
                  printf "RESULT %s_vs_own %.2f x\n", p, wall["batch"] / wall["own"] }'
    done
    stop_load
done
echo "(cores: $cores, files at once: $jobs)" >&2
