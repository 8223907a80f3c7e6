#!/usr/bin/env bash
# Runs a Windows program that shows windows under Wine: on $DISPLAY when it is set and answers,
# otherwise on a virtual display (Xvfb) of its own that ends with the program. The programs with
# windows have a Wine prefix of their own (build/wine-gui, or $ZEB40_WINE_GUI_PREFIX), made on
# first use like the console programs' one (scripts/ci/wine-run.sh): Wine ties its desktop to the
# display of the program that starts it, and a console program has none. One such program runs
# at a time (others wait their turn), and Wine ends with it, before its display does.
#
# The prefix is given Wine's own fonts (among them "MS Sans Serif", the window's font), and its
# windows are not handed to a window manager (none need be there): Wine draws their frames itself,
# as Windows does, and does not wait for a manager's answer when one is hidden or closed.
# The program's exit status is this script's.
# Usage: scripts/ci/wine-gui.sh PROGRAM.exe [ARGUMENT...]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -gt 0 ] || { echo "usage: wine-gui.sh PROGRAM.exe [ARGUMENT...]" >&2; exit 64; }
export WINEPREFIX=${ZEB40_WINE_GUI_PREFIX:-$root/build/wine-gui}
export WINEARCH=win64
export WINEDEBUG=-all
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.run.lock"
flock 9

ready=$WINEPREFIX/.zeb40-gui-ready
if [ ! -e "$ready" ]; then
    fonts=/usr/share/wine/fonts
    [ -e "$fonts/sserife.fon" ] || {
        echo "wine-gui: Wine's fonts are missing (package fonts-wine; scripts/setup-deps.sh)" >&2
        exit 1
    }
    ZEB40_WINEPREFIX=$WINEPREFIX "$root/scripts/ci/wine-run.sh" 9>&-
    for font in "$fonts"/*; do
        ln -sf "$font" "$WINEPREFIX/drive_c/windows/Fonts/"
    done
    (unset DISPLAY && wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
        >/dev/null 2>&1) 9>&-
    # What the set-up started belongs to no display.
    wineserver -k 2>/dev/null || true
    touch "$ready"
fi

xvfb_pid=
cleanup() {
    # Wine first, while its display is still there.
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
if [ -z "${DISPLAY:-}" ] || ! timeout 5 xdpyinfo >/dev/null 2>&1; then
    # Xvfb picks a free display number itself and tells it once it listens.
    exec 8< <(exec Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null 9>&-)
    xvfb_pid=$!
    number=
    read -r -t 10 number <&8 || true
    [ -n "$number" ] || { echo "wine-gui: Xvfb did not start" >&2; exit 1; }
    export DISPLAY=:$number
fi
# Waited for in the background, so that a signal to this script ends it at once, and Wine with it.
wine "$@" 9>&- &
status=0
wait $! || status=$?
exit $status
