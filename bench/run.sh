#!/usr/bin/env bash
# Builds zeb40-flash and runs the loopback benchmarks (bench/bench.py); writes bench/results.md.
# Takes about a quarter of an hour; not part of CI. Options go to bench.py (--rounds N,
# --skip-callgrind, --only dup, --only loss, ...).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
[ -f build/default/CMakeCache.txt ] || cmake --preset default
cmake --build --preset default -j2 --target zeb40-flash zeb40-sim zeb40-window-harness
exec python3 bench/bench.py "$@"
