#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in a tree of their own and runs each one on a
# temporary copy of its seed corpus (with the words of its input in dict/), two at a time.
#   tests/fuzz/run.sh [BUILD_DIR] [SECONDS_PER_TARGET]
# Fails on any crash, sanitizer report, broken invariant, timeout (hang) or out-of-memory; the
# input that did it is kept in BUILD_DIR/artifacts/ and printed as a hex dump.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build-fuzz}
seconds=${2:-20}
jobs=2

mkdir -p "$build"
build=$(cd "$build" && pwd)
cmake -S "$here/targets" -B "$build" -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo > "$build/configure.log" ||
    { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j"$jobs" > "$build/build.log" || { cat "$build/build.log"; exit 1; }

targets=$(cd "$here/corpus" && ls)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
artifacts=$build/artifacts
rm -rf "$artifacts"
mkdir -p "$artifacts"

# One target: libFuzzer grows the temporary corpus (the first folder) and only reads the seeds.
fuzz() {
    local target=$1 status=0 dict=()
    mkdir -p "$work/$target"
    [ -f "$here/dict/$target.dict" ] && dict=(-dict="$here/dict/$target.dict")
    "$build/$target" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=1024 \
        -print_final_stats=1 -artifact_prefix="$artifacts/$target-" "${dict[@]}" \
        "$work/$target" "$here/corpus/$target" > "$work/$target.log" 2>&1 || status=$?
    echo "$status" > "$work/$target.status"
}

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
running=0
for target in $targets; do
    if [ "$running" -ge "$jobs" ]; then
        wait -n
        running=$((running - 1))
    fi
    fuzz "$target" &
    running=$((running + 1))
done
wait

status=0
for target in $targets; do
    log=$work/$target.log
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    if [ "$(cat "$work/$target.status")" = 0 ] && ! ls "$artifacts/$target-"* > /dev/null 2>&1; then
        echo "$target: ok, ${runs:-?} runs, corpus $(ls "$work/$target" | wc -l) new inputs"
    else
        status=1
        echo "$target: FAILED"
        tail -n 60 "$log"
        for artifact in "$artifacts/$target-"*; do
            [ -e "$artifact" ] || continue
            echo "input kept as $artifact:"
            od -A d -c "$artifact" | head -n 20
        done
    fi
done
exit $status
