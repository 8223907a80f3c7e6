#!/usr/bin/env bash
# Builds the tool and shows one upgrade end to end: the device simulator on 127.0.0.1:69 plays
# the ZEB40, the tool starts in a scratch folder with a sample image (scripts/demo/demo.sh). With
# --windows the tool is the Windows window, cross-built by the mingw preset and run under Wine.
# --update-docs goes to scripts/demo/demo.sh: the pictures it takes without a display go to docs/
# rather than build/pictures/.
# Usage: scripts/run.sh [--windows] [--update-docs]
set -euo pipefail
cd "$(dirname "$0")/.."
windows=0
for argument in "$@"; do
    case "$argument" in
        --windows) windows=1 ;;
        --update-docs) ;;
        *) echo "usage: scripts/run.sh [--windows] [--update-docs]" >&2; exit 64 ;;
    esac
done
scripts/setup-deps.sh
cmake --preset default
cmake --build --preset default -j "${JOBS:-$(nproc)}"
if [ $windows -eq 1 ]; then
    cmake --preset mingw
    cmake --build --preset mingw -j "${JOBS:-$(nproc)}" --target zeb40-upgrade
fi
exec scripts/demo/demo.sh "$@"
