#!/usr/bin/env bash
# Takes pictures of the real window: starts a virtual X display, runs the tool in a scratch
# folder (so no settings file of the tree is read or written), waits for the window, captures the
# screen and saves docs/window.png, then does the same at the toolkit's scale 2
# (QT_SCALE_FACTOR=2) for docs/window-scale2.png.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
binary=$root/build/default/bin/zeb40-upgrade
[ -x "$binary" ] || { echo "screenshot: build zeb40-upgrade first" >&2; exit 1; }

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
# One picture at a scale: the window stands at 239,191 in the toolkit's pixels, so the frame
# around it grows with the scale too.
shoot() {
    local scale=$1 out=$2
    (cd "$scratch" && DISPLAY=$display QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale exec "$binary") &
    app_pid=$!
    DISPLAY=$display timeout 10 xdotool search --sync --onlyvisible \
        --name "Corvane ZEB40 Upgrade Tools" >/dev/null
    sleep 0.5
    DISPLAY=$display import -window root \
        -crop "$((400 * scale))x$((300 * scale))+$((200 * scale))+$((160 * scale))" +repage "$out"
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    app_pid=
    rm -f "$scratch/DORVEX.ini"
    echo "screenshot: saved $out"
}
shoot 1 "$root/docs/window.png"
shoot 2 "$root/docs/window-scale2.png"
