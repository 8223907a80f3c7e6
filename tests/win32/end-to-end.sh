#!/usr/bin/env bash
# The Windows window end to end, as a person uses it: scripts/demo/demo.sh --windows without a
# display starts zeb40-sim (the Linux one, of build/default) on 127.0.0.1:69 and the window under
# Wine on a virtual display, presses Upgrade, confirms "Upgrade Finish.", and fails unless the
# device got the image (SHA-256), the window closed and DORVEX.ini holds the address and the
# path. It runs in a network namespace of its own, so port 69 is free whatever else this machine
# runs. Needs root (port 69, the namespace); skipped (77) otherwise.
# Usage: tests/win32/end-to-end.sh PROGRAM.exe
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
if [ "$(id -u)" -ne 0 ] || ! unshare --net true 2>/dev/null; then
    echo "end-to-end: needs root for port 69 and a network namespace of its own; skipped"
    exit 77
fi
DEMO_WINDOWS_EXE=$(realpath "$1")
export DEMO_WINDOWS_EXE
shots=$(mktemp -d)
trap 'rm -rf "$shots"' EXIT
unset DISPLAY WAYLAND_DISPLAY
# shellcheck disable=SC2016 # expanded by the shell inside the namespace
DEMO_SHOTS=$shots unshare --net bash -c 'ip link set lo up && exec "$0" --windows' \
    "$root/scripts/demo/demo.sh"
