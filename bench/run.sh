#!/usr/bin/env bash
# The benchmark: builds bankrip and the bench's helpers, makes the banks,
# prints one table (see bench/bench.py).
#   bench/run.sh [--runs N] [--kinds pcm16,ima,...] [--smoke]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
scripts/setup-deps
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j2 --target bankrip make_bench_banks measure codec_floor >/dev/null
exec python3 bench/bench.py --build "$BUILD" "$@"
