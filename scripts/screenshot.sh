#!/usr/bin/env bash
# Takes pictures of the real windows: starts a virtual X display, runs the tool in a scratch
# folder (so no settings file of the tree is read or written), waits for the window and captures
# the screen around it; docs/window.png shows the Qt window beside the Windows one (the mingw
# build's zeb40-upgrade.exe under Wine, scripts/wine-gui.sh, which must be built), and
# docs/window-scale2.png the Qt window at the toolkit's scale 2 (QT_SCALE_FACTOR=2).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
binary=$root/build/default/bin/zeb40-upgrade
exe=$root/build/mingw/bin/zeb40-upgrade.exe
[ -x "$binary" ] || { echo "screenshot: build zeb40-upgrade first" >&2; exit 1; }
[ -f "$exe" ] || { echo "screenshot: build zeb40-upgrade.exe first (mingw preset)" >&2; exit 1; }

display=
for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
        display=:$n
        break
    fi
done
[ -n "$display" ] || { echo "screenshot: no free display" >&2; exit 1; }

scratch=$(mktemp -d)
xvfb_pid=
app_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1280x960x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do
    DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
done

mkdir -p "$root/docs"
# One picture at a scale of the window the command shows: the window stands at 239,191 in the
# toolkit's pixels, so the frame around it grows with the scale too.
shoot() {
    local scale=$1 out=$2
    shift 2
    (cd "$scratch" && DISPLAY=$display QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale exec "$@") &
    app_pid=$!
    DISPLAY=$display timeout 30 xdotool search --sync --onlyvisible \
        --name "Corvane ZEB40 Upgrade Tools" >/dev/null
    sleep 0.5
    DISPLAY=$display import -window root \
        -crop "$((220 * scale))x$((200 * scale))+$((229 * scale))+$((181 * scale))" +repage "$out"
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    app_pid=
    rm -f "$scratch/DORVEX.ini"
}
shoot 1 "$scratch/qt.png" "$binary"
shoot 1 "$scratch/win32.png" "$root/scripts/wine-gui.sh" "$exe"
convert "$scratch/qt.png" "$scratch/win32.png" +append "$root/docs/window.png"
echo "screenshot: saved $root/docs/window.png"
shoot 2 "$root/docs/window-scale2.png" "$binary"
echo "screenshot: saved $root/docs/window-scale2.png"
