#!/usr/bin/env bash
# Both progress parsers' throughput as RESULT lines for bench/run.
#   bench/parsers.sh BUILD_DIR
set -euo pipefail
exec "${1:?usage: bench/parsers.sh BUILD_DIR}/bench/parser_throughput"
