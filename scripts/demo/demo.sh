#!/usr/bin/env bash
# One upgrade against the device simulator on this machine. zeb40-sim listens on 127.0.0.1:69
# (the port the tool sends to), and the tool starts in a scratch folder whose DORVEX.ini names
# 127.0.0.1 and a generated sample image. With --windows the tool is the Windows window,
# zeb40-upgrade.exe of the mingw preset, under Wine (scripts/ci/wine-gui.sh); the simulator is the
# same Linux program.
#
# With a display ($DISPLAY set and reachable) the window is yours: press Upgrade, confirm the
# message, and the simulator stops when the window has closed. Without one the window runs on a
# virtual desktop (Xvfb with a window manager, scripts/demo/desktop.sh), the script presses Upgrade
# and confirms "Upgrade Finish." as a person would, checks that the window closed and wrote the
# address and the image's path to DORVEX.ini, and saves the pictures demo-during.png and
# demo-after.png (demo-windows-*.png with --windows), cut to the window and the message, in
# build/pictures/: the tree stays as it was. --update-docs saves them into docs/ instead, for the
# README; $DEMO_SHOTS names another folder. Either way it ends by printing the image's SHA-256
# beside the one the simulator received, and fails when they differ.
# Usage: scripts/demo/demo.sh [--windows] [--update-docs]
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
bin=$root/build/default/bin
shots=${DEMO_SHOTS:-$root/build/pictures}
title="Corvane ZEB40 Upgrade Tools"
caption=zeb40-upgrade # the message boxes' caption: the application's title

say() { echo "demo: $*"; }
fail() { echo "demo: $*" >&2; exit 1; }

windows=0
for argument in "$@"; do
    case "$argument" in
        --windows) windows=1 ;;
        --update-docs) shots=$root/docs ;;
        *) fail "usage: scripts/demo/demo.sh [--windows] [--update-docs]" ;;
    esac
done
[ -x "$bin/zeb40-sim" ] || fail "build zeb40-sim first (scripts/run.sh builds everything)"
if [ $windows -eq 1 ]; then
    exe=${DEMO_WINDOWS_EXE:-$root/build/mingw/bin/zeb40-upgrade.exe}
    [ -f "$exe" ] || fail "build zeb40-upgrade.exe first (scripts/run.sh --windows builds it)"
    tool=("$root/scripts/ci/wine-gui.sh" "$exe")
    shot_prefix=demo-windows
else
    [ -x "$bin/zeb40-upgrade" ] || fail "build zeb40-upgrade first (scripts/run.sh builds it)"
    tool=(env QT_QPA_PLATFORM=xcb "$bin/zeb40-upgrade")
    shot_prefix=demo
fi

# Port 69 is below the unprivileged range: root, or the capability on the simulator.
if [ "$(id -u)" -ne 0 ] &&
    [ "$(cat /proc/sys/net/ipv4/ip_unprivileged_port_start 2>/dev/null || echo 1024)" -gt 69 ] &&
    ! getcap "$bin/zeb40-sim" 2>/dev/null | grep -q cap_net_bind_service; then
    fail "the simulator must listen on port 69, which needs root. Run this as root, or allow it
      once per build with: sudo setcap cap_net_bind_service=+ep $bin/zeb40-sim"
fi
if busy=$(ss -Hlun 'sport = :69' 2>/dev/null) && [ -n "$busy" ]; then
    fail "UDP port 69 is already in use (a TFTP server such as tftpd-hpa?):
$busy
      stop it (e.g. systemctl stop tftpd-hpa) and run again"
fi

scratch=$(mktemp -d)
sim_pid=
app_pid=
# shellcheck source=scripts/demo/desktop.sh
. "$root/scripts/demo/desktop.sh"
cleanup() {
    for pid in $app_pid $sim_pid; do
        kill "$pid" 2>/dev/null || true
    done
    # The window's end first (Wine's while its display is there), then the desktop's.
    [ -z "$app_pid" ] || wait "$app_pid" 2>/dev/null || true
    desktop_stop
    wait 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

headless=1
if [ -n "${DISPLAY:-}" ] && timeout 5 xdpyinfo >/dev/null 2>&1; then
    headless=0
fi

# The sample image; without a person at the screen the simulator answers a little slower, so
# that the picture taken during the upload shows the gauge on its way.
image=$scratch/firmware.bin
delay=()
if [ $headless -eq 1 ]; then
    head -c $((2 * 1024 * 1024)) /dev/urandom >"$image"
    delay=(--delay 2)
else
    head -c $((1024 * 1024)) /dev/urandom >"$image"
fi
mkdir "$scratch/device" "$scratch/tool"
# The path as the tool names it: under Wine the drive Z: is the root folder.
image_path=$image
[ $windows -eq 1 ] && image_path="Z:${image//\//\\}"
# Written with blanks around the values, as a person may type them; the close rewrites both
# lines without them.
printf '[Data]\nIP = 127.0.0.1\nPath = %s\n' "$image_path" >"$scratch/settings"
cp "$scratch/settings" "$scratch/tool/DORVEX.ini"

"$bin/zeb40-sim" --bind 127.0.0.1 --port 69 --dir "$scratch/device" "${delay[@]}" \
    >"$scratch/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do
    grep -q '^listening' "$scratch/sim.log" && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
done
grep -q '^listening' "$scratch/sim.log" ||
    fail "the simulator did not start: $(cat "$scratch/sim.log")"
say "simulator $(head -1 "$scratch/sim.log")"

image_sha=$(sha256sum "$image" | cut -d' ' -f1)

if [ $headless -eq 0 ]; then
    say "the window is open: press Upgrade (image $image, $(stat -c %s "$image") bytes)"
    (cd "$scratch/tool" && exec "${tool[@]}") || true
else
    mkdir -m 700 "$scratch/runtime"
    export XDG_RUNTIME_DIR=$scratch/runtime
    desktop_start 1 "$scratch" || fail "no virtual desktop"
    say "no display: running the window on Xvfb $DISPLAY"

    (cd "$scratch/tool" && exec "${tool[@]}") &
    app_pid=$!
    window=$(timeout 30 xdotool search --sync --onlyvisible --name "^$title\$" | head -1) ||
        fail "the window did not appear"
    sleep 0.5
    # The Upgrade button's middle, at 101,84 of the client area (176 x 148). The X window is the
    # client area alone for the Qt window; under Wine it holds the frame that Wine draws too.
    eval "$(xdotool getwindowgeometry --shell "$window")"
    border=$(((WIDTH - 176) / 2))
    xdotool mousemove --window "$window" $((border + 101)) $((HEIGHT - 148 - border + 84)) click 1
    say "pressed Upgrade"
    mkdir -p "$shots"
    sleep 1
    desktop_shoot "$shots/$shot_prefix-during.png" "$window"
    box=$(timeout 30 xdotool search --sync --onlyvisible --name "^$caption\$" | head -1) ||
        fail "no \"Upgrade Finish.\" message"
    sleep 0.5
    desktop_shoot "$shots/$shot_prefix-after.png" "$window" "$box"
    say "screenshots: $shots/$shot_prefix-during.png $shots/$shot_prefix-after.png"
    # Confirm the message as a person would: the box has the focus, Return presses OK. A
    # message after it (the settings could not be written) is confirmed too, and told.
    xdotool windowfocus --sync "$box" key Return
    told=
    for _ in $(seq 100); do
        kill -0 "$app_pid" 2>/dev/null || break
        next=$(xdotool search --onlyvisible --name "^$caption\$" 2>/dev/null | grep -vx "$box" |
            head -1 || true)
        if [ -z "$told" ] && [ -n "$next" ]; then
            told=$next
            desktop_shoot "$scratch/message.png" "$window" "$next"
            xdotool windowfocus --sync "$next" key Return
        fi
        sleep 0.1
    done
    kill -0 "$app_pid" 2>/dev/null && fail "the window did not close after the message"
    wait "$app_pid" || true
    app_pid=
    say "the window closed"
    # The close rewrote the address and the image's path, each as a line of its own.
    settings=$(tr -d '\r' <"$scratch/tool/DORVEX.ini")
    [ -z "$told" ] || fail "a message followed \"Upgrade Finish.\" (the settings could not be written?)"
    grep -qxF "IP=127.0.0.1" <<<"$settings" && grep -qxF "Path=$image_path" <<<"$settings" ||
        fail "DORVEX.ini does not hold the address and the path: $settings"
    say "DORVEX.ini holds IP=127.0.0.1 and Path=$image_path"
fi

kill "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
sim_pid=
# The simulator's own line for the stored image: the window sends "/", which it stores as
# firmware.bin. The whole line is matched: the simulator escapes every byte a client sends that is
# not printable, so no client can put a line break, and with it a line of its own, into the log.
received=$(grep -E '^received firmware\.bin [0-9]+ bytes sha256 [0-9a-f]{64}$' "$scratch/sim.log" |
    tail -1 || true)
device_sha=${received##* }
[ -n "$received" ] || device_sha=none
# And what the device folder holds is that image.
stored_sha=$(sha256sum "$scratch/device/firmware.bin" 2>/dev/null | cut -d' ' -f1 || true)
[ "$stored_sha" = "$device_sha" ] || device_sha="none (the stored file differs from the log)"
echo "image sha256 $image_sha"
echo "device sha256 $device_sha"
[ "$image_sha" = "$device_sha" ] || fail "the device did not get the image"
say "the device has the image"
