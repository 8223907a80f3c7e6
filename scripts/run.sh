#!/usr/bin/env bash
# Builds the tool and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
cmake --preset default
cmake --build --preset default -j "$(nproc)"
if [ -x build/default/bin/zeb40-upgrade ]; then
    exec build/default/bin/zeb40-upgrade "$@"
fi
echo "run: the libraries are built under build/default; the window is not there yet."
