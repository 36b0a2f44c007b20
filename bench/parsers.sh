#!/usr/bin/env bash
# Both progress parsers' throughput as RESULT lines for bench/run.
#   bench/parsers.sh BUILD_DIR       (VIDMORPH_BENCH_QUICK=1: 2 MB, one pass)
set -euo pipefail
program=${1:?usage: bench/parsers.sh BUILD_DIR}/bench/parser_throughput
if [ -n "${VIDMORPH_BENCH_QUICK:-}" ]; then
    exec "$program" 2 1
fi
exec "$program"
