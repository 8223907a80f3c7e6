# shellcheck shell=bash
# A virtual desktop for pictures of the windows, sourced by scripts/demo/demo.sh and
# scripts/gen/screenshot.sh: an X server (Xvfb) with a small window manager (jwm), so that the Qt
# window and its message boxes have the title bars and frames a desktop gives them, on a plain
# desktop colour; and pictures cut to the windows asked for, with a margin of desktop around
# them. The window manager's frames, fonts and margin grow with the toolkit's scale, as a desktop
# at that scale has them. Wine's windows are not managed (scripts/ci/wine-gui.sh): Wine draws their
# frames itself, inside their X windows.
#
#   desktop_start SCALE SCRATCH   starts it (its files in SCRATCH), sets DISPLAY
#   desktop_stop                  ends the window manager and the X server
#   desktop_shoot FILE WINDOW...  the picture of the windows (X ids) with their frames
#
# The caller ends with desktop_stop (in its EXIT trap).

desktop_xvfb_pid=
desktop_wm_pid=
desktop_scale=1

desktop_start() {
    local scale=$1 scratch=$2 number=
    desktop_scale=$scale
    # Room for the window at 239,191 and a message box centred on the screen, at this scale.
    # Xvfb picks a free display number itself and tells it once it listens.
    exec 8< <(exec Xvfb -displayfd 1 -screen 0 "$((1024 * scale))x$((768 * scale))x24" \
        -nolisten tcp 2>/dev/null)
    desktop_xvfb_pid=$!
    read -r -t 10 number <&8 || true
    exec 8<&-
    [ -n "$number" ] || { echo "desktop: Xvfb did not start" >&2; return 1; }
    export DISPLAY=:$number
    command -v jwm >/dev/null || {
        echo "desktop: the window manager jwm is missing (scripts/setup-deps.sh installs it)" >&2
        return 1
    }
    # A frame like a plain desktop's: a title bar with the caption and a close box in a narrow
    # font, so that the window's whole caption fits, a thin border, no task bar, the windows on a
    # desktop of one colour.
    cat >"$scratch/jwmrc" <<EOF
<?xml version="1.0"?>
<JWM>
    <Desktops width="1" height="1">
        <Background type="solid">#3a6ea5</Background>
    </Desktops>
    <TitleButtonOrder>tx</TitleButtonOrder>
    <WindowStyle decorations="flat">
        <Font>DejaVu Sans Condensed-$((8 * scale))</Font>
        <Width>$((3 * scale))</Width>
        <Height>$((20 * scale))</Height>
        <Corner>0</Corner>
        <Foreground>#404040</Foreground>
        <Background>#c8c8c8</Background>
        <Outline>#707070</Outline>
        <Active>
            <Foreground>#ffffff</Foreground>
            <Background>#2f5f9e</Background>
            <Outline>#1c3c66</Outline>
        </Active>
    </WindowStyle>
    <FocusModel>click</FocusModel>
</JWM>
EOF
    # The manager is up once it has announced itself on the root window. One that ended before
    # that is started again, twice at most.
    local starts=0 _
    for _ in $(seq 150); do
        # (One that ended and is not yet waited for is a zombie, which kill -0 still finds.)
        if [ -z "$desktop_wm_pid" ] || ! [ -r "/proc/$desktop_wm_pid/status" ] ||
            grep -q '^State:[[:space:]]*Z' "/proc/$desktop_wm_pid/status"; then
            [ $starts -lt 3 ] || break
            starts=$((starts + 1))
            jwm -f "$scratch/jwmrc" >>"$scratch/jwm.log" 2>&1 &
            desktop_wm_pid=$!
        fi
        # (The output tested, not grep -q's status: an early end of grep would fail the pipe.)
        # shellcheck disable=SC2143
        [ -n "$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep 'window id')" ] && return 0
        sleep 0.1
    done
    echo "desktop: the window manager did not start on $DISPLAY: $(cat "$scratch/jwm.log")" >&2
    return 1
}

desktop_stop() {
    local pid
    for pid in $desktop_wm_pid $desktop_xvfb_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    desktop_wm_pid=
    desktop_xvfb_pid=
}

# "LEFT TOP RIGHT BOTTOM" of a window on the screen, with the frame its manager put around it.
desktop_rect() {
    local window=$1 x y w h extents left=0 right=0 top=0 bottom=0
    x=$(xwininfo -id "$window" | sed -n 's/^ *Absolute upper-left X: *//p')
    y=$(xwininfo -id "$window" | sed -n 's/^ *Absolute upper-left Y: *//p')
    w=$(xwininfo -id "$window" | sed -n 's/^ *Width: *//p')
    h=$(xwininfo -id "$window" | sed -n 's/^ *Height: *//p')
    extents=$(xprop -id "$window" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.* = //p' | tr -d ,)
    [ -z "$extents" ] || read -r left right top bottom <<<"$extents"
    echo "$((x - left)) $((y - top)) $((x + w + right)) $((y + h + bottom))"
}

desktop_shoot() {
    local out=$1 window l t r b left='' top='' right='' bottom='' margin
    shift
    for window in "$@"; do
        read -r l t r b < <(desktop_rect "$window")
        [ -n "$left" ] && [ "$left" -le "$l" ] || left=$l
        [ -n "$top" ] && [ "$top" -le "$t" ] || top=$t
        [ -n "$right" ] && [ "$right" -ge "$r" ] || right=$r
        [ -n "$bottom" ] && [ "$bottom" -ge "$b" ] || bottom=$b
    done
    margin=$((12 * desktop_scale))
    left=$((left - margin))
    top=$((top - margin))
    [ "$left" -ge 0 ] || left=0
    [ "$top" -ge 0 ] || top=0
    import -window root -crop "$((right + margin - left))x$((bottom + margin - top))+$left+$top" \
        +repage "$out"
}
