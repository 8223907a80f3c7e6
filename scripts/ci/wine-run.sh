#!/usr/bin/env bash
# Runs a Windows program under Wine, in the project's own Wine prefix (build/wine, or
# $ZEB40_WINEPREFIX), which it creates on first use in about 10 s. Console programs only: no
# display is used, and Wine's own messages are off. The program's exit status is this script's.
# With no program, it only makes sure the prefix exists.
# Usage: scripts/ci/wine-run.sh [PROGRAM.exe [ARGUMENT...]]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
export WINEPREFIX=${ZEB40_WINEPREFIX:-$root/build/wine}
export WINEARCH=win64
export WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
ready=$WINEPREFIX/.zeb40-ready

if [ ! -e "$ready" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    # Tests and test listings may start side by side: one of them makes the prefix, the others
    # wait for it.
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [ ! -e "$ready" ]; then
        # Whatever an interrupted creation left is made again from scratch.
        rm -rf "$WINEPREFIX"
        # No Mono and no Gecko, whose installers would ask for them: no program here needs
        # either. The lock is not handed to the Wine server, which outlives this script.
        if ! WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init >"$WINEPREFIX.log" 2>&1 9>&-; then
            cat "$WINEPREFIX.log" >&2
            echo "wine-run: could not create the Wine prefix $WINEPREFIX" >&2
            exit 1
        fi
        touch "$ready"
    fi
    exec 9>&-
fi
[ $# -eq 0 ] && exit 0
# The first program of a Wine server starts the system's services (services.exe, winedevice.exe
# and others), which inherit its standard output and error and live as long as the server: a
# caller that reads the program's output to its end, as ctest does, would wait for them too. So
# when no server runs, one is started here, and a program without output starts its services on
# the null device. The server stays a minute after its last program, so that the build's listing
# of the tests and the tests themselves share it: a program that starts just as a server ends
# fails to reach it.
exec 9>"$WINEPREFIX.lock"
flock 9
if ! wineserver -k0 2>/dev/null; then
    wineserver -p60 </dev/null >/dev/null 2>&1 9>&- || true
    wine cmd.exe /c exit </dev/null >/dev/null 2>&1 9>&- || true
fi
exec 9>&-
exec wine "$@"
