#!/usr/bin/env bash
# Builds the tool and shows one upgrade end to end: the device simulator on 127.0.0.1:69 plays
# the ZEB40, the tool starts in a scratch folder with a sample image (scripts/demo.sh). With
# --windows the tool is the Windows window, cross-built by the mingw preset and run under Wine.
# Usage: scripts/run.sh [--windows]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
cmake --preset default
cmake --build --preset default -j "${JOBS:-$(nproc)}"
if [ "${1:-}" = --windows ]; then
    cmake --preset mingw
    cmake --build --preset mingw -j "${JOBS:-$(nproc)}" --target zeb40-upgrade
fi
exec scripts/demo.sh "$@"
