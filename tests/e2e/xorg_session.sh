# Sourced by the desktop tests: a private Xorg server on the dummy video driver, whose RandR modes
# really switch (Xvfb has one fixed mode), and optionally a window manager on it. Needs root: a
# plain user's Xorg must own a console. Sets DISPLAY. Also sources xvfb_session.sh for the helpers
# shared with the Xvfb tests (window_named, wait_for_window, wait_for_exit, fail).
#   start_xorg          a 1920 x 1080 desktop with the dummy driver's modes (1600 x 900, 1280 x 720 ...)
#   start_openbox       openbox on it, once it manages the screen
#   current_mode [OUT]  the mode of output OUT (the first lit one by default), e.g. 1920x1080+0+0

. "$(dirname "${BASH_SOURCE[0]}")/xvfb_session.sh"

start_xorg() {
    XORG_DIR=$(mktemp -d)
    mkdir "$XORG_DIR/conf.d"
    # no input devices of its own (xdotool types through XTEST), no console switching, and none
    # of the system's configuration snippets
    cat >"$XORG_DIR/xorg.conf" <<'EOF'
Section "ServerFlags"
    Option "AutoAddDevices" "false"
    Option "AutoEnableDevices" "false"
    Option "AutoAddGPU" "false"
    Option "DontVTSwitch" "true"
    Option "BlankTime" "0"
    Option "StandbyTime" "0"
    Option "SuspendTime" "0"
    Option "OffTime" "0"
EndSection
Section "Device"
    Identifier "dummy"
    Driver "dummy"
    VideoRam 256000
EndSection
Section "Monitor"
    Identifier "monitor"
    HorizSync 5.0-1000.0
    VertRefresh 5.0-200.0
    Modeline "1920x1080" 148.50 1920 2008 2052 2200 1080 1084 1089 1125 +hsync +vsync
    Modeline "1600x900" 108.00 1600 1624 1704 1800 900 901 904 1000 +hsync +vsync
    Modeline "1280x720" 74.25 1280 1390 1430 1650 720 725 730 750 +hsync +vsync
EndSection
Section "Screen"
    Identifier "screen"
    Device "dummy"
    Monitor "monitor"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Modes "1920x1080" "1600x900" "1280x720"
    EndSubSection
EndSection
EOF
    Xorg -displayfd 1 -config "$XORG_DIR/xorg.conf" -configdir "$XORG_DIR/conf.d" \
        -logfile "$XORG_DIR/Xorg.log" -nolisten tcp -noreset -novtswitch -sharevts \
        >"$XORG_DIR/display" 2>"$XORG_DIR/stderr" &
    XORG_PID=$!
    on_exit stop_xorg
    await_display "$XORG_DIR/display" "$XORG_PID" && return 0
    echo "could not start Xorg with the dummy driver:" >&2
    tail -n 20 "$XORG_DIR/stderr" >&2
    return 1
}

start_openbox() {
    openbox --sm-disable >"$XORG_DIR/openbox.log" 2>&1 &
    OPENBOX_PID=$!
    for _ in $(seq 1 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && return 0
        kill -0 "$OPENBOX_PID" 2>/dev/null || break
        sleep 0.1
    done
    echo "openbox did not start: $(cat "$XORG_DIR/openbox.log")" >&2
    return 1
}

stop_xorg() {
    [ -n "${APP_PID:-}" ] && kill -9 "$APP_PID" 2>/dev/null
    [ -n "${OPENBOX_PID:-}" ] && kill "$OPENBOX_PID" 2>/dev/null
    [ -n "${XORG_PID:-}" ] && kill "$XORG_PID" 2>/dev/null
    wait ${APP_PID:-} ${OPENBOX_PID:-} ${XORG_PID:-} 2>/dev/null
    [ -n "${XORG_DIR:-}" ] && rm -rf "$XORG_DIR"
    APP_PID= OPENBOX_PID= XORG_PID= XORG_DIR=
}

# --current: no probing of the outputs, which stalls the server while a test polls; an output
# lit since the last probe may still read "disconnected" then, with its mode all the same
current_mode() {
    local output=${1:-}
    xrandr --current | awk -v out="$output" '
        $2 ~ /connected$/ && (out == "" || $1 == out) {
            for (i = 3; i <= NF; i++) if ($i ~ /^[0-9]+x[0-9]+\+/) { print $i; exit }
        }'
}

# The geometry of window $1 as the X server has it: WIDTHxHEIGHT+X+Y.
geometry_of_window() {
    xwininfo -id "$1" | awk '/Absolute upper-left X:/ {x=$4} /Absolute upper-left Y:/ {y=$4}
        /Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h "+" x "+" y}'
}
