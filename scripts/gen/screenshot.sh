#!/usr/bin/env bash
# Takes pictures of the real windows on a virtual desktop (scripts/demo/desktop.sh: Xvfb with a
# window manager), each cut to the window and its frame: window.png shows the Qt window beside
# the Windows one (the mingw build's zeb40-upgrade.exe under Wine, scripts/ci/wine-gui.sh, which
# must be built), window-scale2.png the Qt window at the toolkit's scale 2 (QT_SCALE_FACTOR=2) on
# a desktop of that scale. The tool runs in a scratch folder, so no settings file of the tree is
# read or written. The pictures go to build/pictures/, or with --update-docs to docs/ for the
# README.
# Usage: scripts/gen/screenshot.sh [--update-docs]
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
shots=$root/build/pictures
case "${1:-}" in
    "") ;;
    --update-docs) shots=$root/docs ;;
    *) echo "usage: scripts/gen/screenshot.sh [--update-docs]" >&2; exit 64 ;;
esac
binary=$root/build/default/bin/zeb40-upgrade
exe=$root/build/mingw/bin/zeb40-upgrade.exe
[ -x "$binary" ] || { echo "screenshot: build zeb40-upgrade first" >&2; exit 1; }
[ -f "$exe" ] || { echo "screenshot: build zeb40-upgrade.exe first (mingw preset)" >&2; exit 1; }

scratch=$(mktemp -d)
app_pid=
# shellcheck source=scripts/demo/desktop.sh
. "$root/scripts/demo/desktop.sh"
cleanup() {
    if [ -n "$app_pid" ]; then
        kill "$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true
    fi
    desktop_stop
    rm -rf "$scratch"
}
trap cleanup EXIT
mkdir -p "$shots"

# One picture of the window that the command shows, on a desktop of the given scale.
shoot() {
    local scale=$1 out=$2 window
    shift 2
    mkdir -p "$scratch/$scale"
    desktop_start "$scale" "$scratch/$scale"
    (cd "$scratch" && QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale exec "$@") &
    app_pid=$!
    window=$(timeout 30 xdotool search --sync --onlyvisible \
        --name "^Corvane ZEB40 Upgrade Tools\$" | head -1)
    sleep 0.5
    desktop_shoot "$out" "$window"
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    app_pid=
    desktop_stop
    rm -f "$scratch/DORVEX.ini"
}
shoot 1 "$scratch/qt.png" "$binary"
shoot 1 "$scratch/win32.png" "$root/scripts/ci/wine-gui.sh" "$exe"
# Side by side, top-aligned, on the desktop's colour.
convert "$scratch/qt.png" "$scratch/win32.png" -background '#3a6ea5' -gravity north +append \
    +repage "$shots/window.png"
echo "screenshot: saved $shots/window.png"
shoot 2 "$shots/window-scale2.png" "$binary"
echo "screenshot: saved $shots/window-scale2.png"
