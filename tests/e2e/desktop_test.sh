#!/usr/bin/env bash
# The demo on a desktop that really switches modes: its own Xorg on the dummy video driver, with
# openbox as the window manager. Usage: desktop_test.sh SCENARIO BIN_DIR ARTIFACT_DIR [RUNS]
#   modes           fullscreen at 1280 x 720 on a 1920 x 1080 desktop, and the desktop's mode is
#                   back after Escape, SIGINT, SIGTERM, SIGHUP, a shader that does not compile and
#                   a driver without OpenGL 4.3; the signals give 128 + their number
#   window-manager  the dialog is centred and focused and Return presses Enter; the demo's window
#                   covers the screen from (0, 0), undecorated and focused, so Escape works at
#                   once; after a fullscreen run the window manager's windows are as they were
#   cycles          choose, play and Escape RUNS times over (20 by default): nothing left behind,
#                   mode unchanged
#   two-monitors    the display at (0, 0) is not the primary one: its modes are offered and it is
#                   the one switched (sdl_platform_tests' case for it, in this server)
# Exits with 77 (skipped) where Xorg cannot be started by a plain user.
set -u
scenario=$1
runs=${4:-20}
bin_dir=$(cd "$2" && pwd)
mkdir -p "$3/desktop-$scenario"
artifacts=$(cd "$3/desktop-$scenario" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/xorg_session.sh"

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: Xorg with the dummy driver needs root here (CI runs as root)"
    exit 77
fi

export SDL_AUDIODRIVER=dummy
export NO_AT_BRIDGE=1
desktop=1920x1080+0+0

start_xorg || exit 1
if [ "$scenario" != two-monitors ]; then
    start_openbox || exit 1
fi

# Starts PROGRAM (quarvel by default) in BIN_DIR with ENV... in front; sets APP_PID.
start_demo() {
    local program=${1:-quarvel}
    shift $(($# > 0 ? 1 : 0))
    (cd "$bin_dir" && exec env "$@" "./$program" >"$artifacts/stdout" 2>"$artifacts/stderr") &
    APP_PID=$!
}

# The window that has the focus, as the window manager says.
active_window() {
    xdotool getactivewindow 2>/dev/null
}

# Waits up to $2 seconds for window $1 to have the focus.
wait_for_focus() {
    for _ in $(seq 1 $(($2 * 10))); do
        [ "$(active_window)" = "$1" ] && return 0
        sleep 0.1
    done
    return 1
}

# Waits up to $2 seconds for the first output to show mode $1.
wait_for_mode() {
    for _ in $(seq 1 $(($2 * 10))); do
        [ "$(current_mode)" = "$1" ] && return 0
        sleep 0.1
    done
    return 1
}

# Left, right, top and bottom of the frame the window manager put around window $1.
frame_extents() {
    xprop -id "$1" _NET_FRAME_EXTENTS | sed -n 's/.* = //p' | tr -d ' '
}

# Waits for the dialog and for the window manager to focus it; prints its id.
dialog_in_focus() {
    local dialog
    dialog=$(wait_for_window "Tessmor selektor" 60) || fail "$1: no launcher dialog; stderr: $(cat "$artifacts/stderr")"
    wait_for_focus "$dialog" 10 || fail "$1: the dialog opened without the focus"
    echo "$dialog"
}

# In the dialog: to the Resolution list, two entries down from the preselected 1920 x 1080
# (the list reads 1920 x 1080, 1600 x 900, 1280 x 720, ...), Enter. Fullscreen stays checked.
choose_1280x720() {
    dialog_in_focus "$1" >/dev/null
    xdotool key --delay 100 Tab Tab Down Down Return
}

# Waits for the demo to switch to 1280 x 720, fullscreen, from (0, 0).
wait_for_fullscreen_1280x720() {
    local demo
    wait_for_mode 1280x720+0+0 60 || fail "$1: the display never switched to 1280 x 720 (it shows $(current_mode))"
    demo=$(wait_for_window Quarvel 60) || fail "$1: no demo window"
    for _ in $(seq 1 50); do
        [ "$(geometry_of_window "$demo")" = "1280x720+0+0" ] && return 0
        sleep 0.1
    done
    fail "$1: the demo window is $(geometry_of_window "$demo"), not 1280x720+0+0"
}

# Waits up to $2 seconds for APP_PID to end and sets EXIT_STATUS and ELAPSED_MS, measured from
# the call, to the 20 ms at which tail looks.
wait_for_end() {
    local start
    start=$(date +%s%N)
    timeout "$2" tail --pid="$APP_PID" -s 0.02 -f /dev/null || fail "$1: the program did not end within $2 s"
    ELAPSED_MS=$((($(date +%s%N) - start) / 1000000))
    wait "$APP_PID"
    EXIT_STATUS=$?
    APP_PID=
}

expect_desktop_mode() {
    wait_for_mode "$desktop" 10 || fail "$1: the desktop was left at $(current_mode), not $desktop"
}

# Waits for the message box a failed run shows (an untitled dialog in front); prints its id.
message_box() {
    local window
    for _ in $(seq 1 600); do
        window=$(active_window)
        if [ -n "$window" ] && [ -z "$(xdotool getwindowname "$window" 2>/dev/null)" ] &&
            xprop -id "$window" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q DIALOG; then
            echo "$window"
            return 0
        fi
        kill -0 "$APP_PID" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

scenario_modes() {
    local how status
    for how in Escape SIGINT SIGTERM SIGHUP; do
        start_demo
        choose_1280x720 "$how"
        wait_for_fullscreen_1280x720 "$how"
        case $how in
        Escape)
            xdotool key Escape
            status=0
            ;;
        SIGINT) kill -INT "$APP_PID"; status=130 ;;
        SIGTERM) kill -TERM "$APP_PID"; status=143 ;;
        SIGHUP) kill -HUP "$APP_PID"; status=129 ;;
        esac
        wait_for_end "$how" 60
        [ "$EXIT_STATUS" -eq "$status" ] || fail "$how: exit status $EXIT_STATUS, not $status; stderr: $(cat "$artifacts/stderr")"
        expect_desktop_mode "$how"
        echo "PASS: $how during a fullscreen run at 1280 x 720: status $status after $ELAPSED_MS ms, the desktop back at $desktop"
    done

    # failures after the switch: the box comes up on the desktop in its own mode, and dismissing
    # it (or a signal while it is up) ends the run with the desktop as it was
    local box
    start_demo quarvel-broken-shader
    choose_1280x720 "shader failure"
    box=$(message_box) || fail "shader failure: no message box; stderr: $(cat "$artifacts/stderr")"
    expect_desktop_mode "shader failure, while the box is up"
    import -window root "$artifacts/shader_failure_box.png" 2>/dev/null
    xdotool key Return
    wait_for_end "shader failure" 30
    [ "$EXIT_STATUS" -eq 1 ] || fail "shader failure: exit status $EXIT_STATUS"
    grep -q "shader does not compile" "$artifacts/stderr" || fail "shader failure: stderr says $(cat "$artifacts/stderr")"
    expect_desktop_mode "shader failure"
    echo "PASS: a scene shader that does not compile: its log in a box on the desktop at $desktop, status 1"

    start_demo quarvel MESA_GL_VERSION_OVERRIDE=3.3
    choose_1280x720 "no OpenGL 4.3"
    box=$(message_box) || fail "no OpenGL 4.3: no message box; stderr: $(cat "$artifacts/stderr")"
    expect_desktop_mode "no OpenGL 4.3, while the box is up"
    kill -TERM "$APP_PID"
    wait_for_end "no OpenGL 4.3" 30
    [ "$EXIT_STATUS" -eq 143 ] || fail "no OpenGL 4.3: SIGTERM while the box was up gave status $EXIT_STATUS"
    grep -q "needs OpenGL 4.3" "$artifacts/stderr" || fail "no OpenGL 4.3: stderr says $(cat "$artifacts/stderr")"
    expect_desktop_mode "no OpenGL 4.3"
    echo "PASS: OpenGL 3.3 only: the box on the desktop at $desktop, and SIGTERM ends it with 143"
}

scenario_window_manager() {
    local marker marker_geometry dialog demo extents screen_w=1920 screen_h=1080
    # a window of the desktop's own, which the demo must leave as it found it
    xev -geometry 400x300+100+100 -name marker >/dev/null 2>&1 &
    MARKER_PID=$!
    marker=$(wait_for_window marker 30) || fail "the marker window did not appear"
    # (openbox may still be starting when it maps, and then leaves it unfocused)
    xdotool windowactivate --sync "$marker" 2>/dev/null
    wait_for_focus "$marker" 10 || fail "openbox did not focus the marker window"
    marker_geometry=$(geometry_of_window "$marker")

    # the dialog: centred on the screen, frame included, focused, and Return presses Enter
    start_demo
    dialog=$(dialog_in_focus "dialog")
    import -window "$dialog" "$artifacts/dialog_under_openbox.png" 2>/dev/null
    read -r x y w h < <(xwininfo -id "$dialog" | awk '/Absolute upper-left X:/ {x=$4} /Absolute upper-left Y:/ {y=$4}
        /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}')
    IFS=, read -r left right top bottom <<<"$(frame_extents "$dialog")"
    # twice the distance from the frame's centre to the screen's; GTK centres the window and the
    # window manager hangs the caption over it, so down to the caption's height is centred
    local dx=$(((x - left) * 2 + w + left + right - screen_w)) dy=$(((y - top) * 2 + h + top + bottom - screen_h))
    [ "${dx#-}" -le 2 ] && [ "${dy#-}" -le $((2 * top)) ] ||
        fail "the dialog's frame is off the screen's centre by $((dx / 2)), $((dy / 2)) pixels (caption $top)"
    xdotool key Return
    demo=$(wait_for_window Quarvel 60) || fail "Return in the dialog: no demo window"
    window_named "Tessmor selektor" >/dev/null && fail "Return: the dialog is still there"

    # fullscreen at the desktop's own size: the whole screen, no frame, the focus without a click
    [ "$(geometry_of_window "$demo")" = "1920x1080+0+0" ] || fail "the demo window is $(geometry_of_window "$demo")"
    extents=$(frame_extents "$demo")
    [ -z "$extents" ] || [ "$extents" = "0,0,0,0" ] || fail "the demo window has a frame: $extents"
    wait_for_focus "$demo" 10 || fail "the demo window did not get the focus"
    wait_for_picture "$artifacts/demo_under_openbox.png" "$APP_PID"
    xdotool key Escape
    wait_for_end "Escape without a click" 60
    [ "$EXIT_STATUS" -eq 0 ] || fail "Escape: exit status $EXIT_STATUS"
    echo "PASS: the dialog centred and focused, Return presses Enter; the demo undecorated over the screen, focused, Escape ends it"

    # in a window: still at (0, 0), undecorated and focused
    start_demo
    dialog_in_focus "windowed" >/dev/null
    xdotool key --delay 100 Tab Tab Down Down Tab space Return
    demo=$(wait_for_window Quarvel 60) || fail "windowed: no demo window"
    for _ in $(seq 1 50); do
        [ "$(geometry_of_window "$demo")" = "1280x720+0+0" ] && break
        sleep 0.1
    done
    [ "$(geometry_of_window "$demo")" = "1280x720+0+0" ] || fail "windowed: the demo window is $(geometry_of_window "$demo")"
    extents=$(frame_extents "$demo")
    [ -z "$extents" ] || [ "$extents" = "0,0,0,0" ] || fail "windowed: the demo window has a frame: $extents"
    [ "$(current_mode)" = "$desktop" ] || fail "windowed: the mode changed to $(current_mode)"
    wait_for_focus "$demo" 10 || fail "windowed: the demo window did not get the focus"
    xdotool key Escape
    wait_for_end "windowed" 60
    [ "$EXIT_STATUS" -eq 0 ] || fail "windowed: exit status $EXIT_STATUS"
    echo "PASS: in a window: 1280x720+0+0, undecorated, focused, Escape ends it"

    # after a run in another mode, the desktop's windows are where they were and have the focus
    start_demo
    choose_1280x720 "the desktop afterwards"
    wait_for_fullscreen_1280x720 "the desktop afterwards"
    xdotool key Escape
    wait_for_end "the desktop afterwards" 60
    expect_desktop_mode "the desktop afterwards"
    wait_for_focus "$marker" 10 || fail "the marker window did not get the focus back"
    [ "$(geometry_of_window "$marker")" = "$marker_geometry" ] ||
        fail "the marker window moved from $marker_geometry to $(geometry_of_window "$marker")"
    kill -0 "$OPENBOX_PID" 2>/dev/null || fail "openbox is gone"
    kill "$MARKER_PID"
    echo "PASS: after a fullscreen run at 1280 x 720 the desktop is at $desktop and its window as it was, focused"
}

scenario_cycles() {
    local i total
    total=$(date +%s)
    for i in $(seq 1 "$runs"); do
        start_demo
        choose_1280x720 "cycle $i"
        wait_for_fullscreen_1280x720 "cycle $i"
        xdotool key Escape
        wait_for_end "cycle $i" 60
        [ "$EXIT_STATUS" -eq 0 ] || fail "cycle $i: exit status $EXIT_STATUS; stderr: $(cat "$artifacts/stderr")"
        expect_desktop_mode "cycle $i"
        window_named Quarvel >/dev/null && fail "cycle $i: a demo window outlived its process"
        window_named "Tessmor selektor" >/dev/null && fail "cycle $i: a dialog outlived its process"
    done
    pgrep -x quarvel >/dev/null && fail "a quarvel process is left: $(pgrep -a -x quarvel)"
    echo "PASS: $runs runs chosen, played and ended with Escape in $(($(date +%s) - total)) s; none left behind, desktop at $desktop"
}

scenario_two_monitors() {
    # the primary monitor sits to the right; the one at (0, 0) runs at 960 x 540 and alone offers
    # 1152 x 648, and a window of 1920 x 1080 at (0, 0) has its centre on the primary one
    xrandr --newmode 1152x648 60 1152 1160 1200 1240 648 650 655 660 &&
        xrandr --addmode DUMMY1 1152x648 && xrandr --addmode DUMMY1 960x540 &&
        xrandr --addmode DUMMY1 1920x1080 &&
        xrandr --output DUMMY1 --mode 960x540 --pos 0x0 --output DUMMY0 --primary --pos 960x0 ||
        fail "the second monitor could not be set up"
    # the dummy driver reports an output connected once it has a mode, to those who probe
    xrandr --query >/dev/null
    [ "$(current_mode DUMMY1)" = "960x540+0+0" ] || fail "DUMMY1 is at $(current_mode DUMMY1)"
    APP_PID=
    local case=SdlPlatformTest.ModesAndFullscreenAreThoseOfTheDisplayAtTheOrigin
    QUARVEL_TEST_ORIGIN_ONLY_MODE=1152x648 QUARVEL_TEST_ORIGIN_SWITCH_TO=1920x1080 \
        "$bin_dir/sdl_platform_tests" --gtest_filter=$case | tee "$artifacts/sdl_platform_tests.txt"
    grep -q "^\[       OK \] $case" "$artifacts/sdl_platform_tests.txt" ||
        fail "the display at (0, 0) is not the one offered and switched (or the case did not run)"
    [ "$(current_mode DUMMY1)" = "960x540+0+0" ] || fail "the monitor at (0, 0) was left at $(current_mode DUMMY1)"
    [ "$(current_mode DUMMY0)" = "1920x1080+960+0" ] || fail "the primary monitor was left at $(current_mode DUMMY0)"
    echo "PASS: the monitor at (0, 0) is offered and switched, and both are back as they were"
}

case $scenario in
modes) scenario_modes ;;
window-manager) scenario_window_manager ;;
cycles) scenario_cycles ;;
two-monitors) scenario_two_monitors ;;
*) fail "no scenario $scenario" ;;
esac
