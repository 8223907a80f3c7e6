#!/usr/bin/env bash
# Lossy-network soak: seeded uploads of random sizes (up to 3 MiB) through zeb40-flash to
# zeb40-sim with 5 % loss and 5 % duplication on 127.0.0.1 (SOAK_LOSS, SOAK_DUP override them);
# prints a table of outcomes and exits non-zero on any fault (success reported for a differing
# image, more than 1.1 data packets per block beyond those the losses explain, a hang, a crash).
# The seeds make a run reproducible. Usage: scripts/soak.sh [count, default 200] [first seed, 1]
set -euo pipefail
count=${1:-200}
first=${2:-1}
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
[ -f build/default/CMakeCache.txt ] || cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target zeb40-sim zeb40-flash >/dev/null
SOAK_OUT=build/soak exec python3 scripts/soak.py build/default/bin "$count" "$first"
