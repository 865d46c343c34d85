#!/usr/bin/env bash
# The demo on a desktop that really switches modes: its own Xorg on the dummy video driver, with
# openbox as the window manager. Usage: desktop_test.sh SCENARIO BIN_DIR ARTIFACT_DIR
#   modes           fullscreen at 1280 x 720 on a 1920 x 1080 desktop: the desktop's mode is back
#                   after Escape, SIGINT, SIGTERM, SIGHUP (128 + their number), a shader that does
#                   not compile and a driver without OpenGL 4.3
#   window-manager  the dialog is centred and focused and Return presses Enter; the demo's window
#                   covers the screen from (0, 0), undecorated and focused, so Escape works at
#                   once; after a fullscreen run the desktop's window is as it was
#   cycles          choose, play and Escape twenty times: nothing left behind, mode unchanged
#   two-monitors    the display at (0, 0) is not the primary one: its modes are offered and it is
#                   the one switched (sdl_platform_tests' case for it, in this server)
# Exits with 77 (skipped) where Xorg cannot be started by a plain user.
set -u
scenario=$1
bin_dir=$(cd "$2" && pwd)
mkdir -p "$3/desktop-$scenario"
artifacts=$(cd "$3/desktop-$scenario" && pwd)
. "$(dirname "$0")/xorg_session.sh"

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: Xorg with the dummy driver needs root here (CI runs as root)"
    exit 77
fi
export SDL_AUDIODRIVER=dummy NO_AT_BRIDGE=1
desktop=1920x1080+0+0
start_xorg || exit 1
[ "$scenario" = two-monitors ] || start_openbox || exit 1

# Starts PROGRAM (quarvel by default) in BIN_DIR with ENV... in front; sets APP_PID.
start_demo() {
    local program=${1:-quarvel}
    shift $(($# > 0 ? 1 : 0))
    # a session of its own, so that what it leaves behind can be found by its session id (its pid)
    (cd "$bin_dir" && exec setsid env "$@" "./$program" >"$artifacts/stdout" 2>"$artifacts/stderr") &
    APP_PID=$!
}

# Runs COMMAND... every 0.1 s until it succeeds, for up to $1 seconds.
wait_until() {
    local seconds=$1
    shift
    for _ in $(seq 1 $((seconds * 10))); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
has_focus() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ]; }
shows_mode() { [ "$(current_mode)" = "$1" ]; }
has_geometry() { [ "$(geometry_of_window "$1")" = "$2" ]; }
# no frame from the window manager: _NET_FRAME_EXTENTS (left, right, top, bottom) absent or 0
undecorated() { xprop -id "$1" _NET_FRAME_EXTENTS | grep -qE 'not found|= 0, 0, 0, 0'; }

# Waits for the dialog and for the window manager to focus it; prints its id.
dialog_in_focus() {
    local dialog
    dialog=$(wait_for_window "Tessmor selektor" 60) || fail "$1: no launcher dialog; stderr: $(cat "$artifacts/stderr")"
    wait_until 10 has_focus "$dialog" || fail "$1: the dialog opened without the focus"
    echo "$dialog"
}

# In the dialog, to the Resolution list, two entries down from the preselected 1920 x 1080 (it
# reads 1920 x 1080, 1600 x 900, 1280 x 720, ...), and Enter, with Fullscreen checked; then waits
# for the switch and the demo's window.
run_fullscreen_1280x720() {
    local demo
    dialog_in_focus "$1" >/dev/null
    xdotool key --delay 100 Tab Tab Down Down Return
    wait_until 60 shows_mode 1280x720+0+0 || fail "$1: the display never switched to 1280 x 720 (it shows $(current_mode))"
    demo=$(wait_for_window Quarvel 60) || fail "$1: no demo window"
    wait_until 5 has_geometry "$demo" 1280x720+0+0 || fail "$1: the demo window is $(geometry_of_window "$demo")"
}

# Waits up to $2 seconds for APP_PID to end; sets EXIT_STATUS and ELAPSED_MS from the call, to
# the 20 ms at which tail looks.
wait_for_end() {
    local start
    start=$(date +%s%N)
    timeout "$2" tail --pid="$APP_PID" -s 0.02 -f /dev/null || fail "$1: the program did not end within $2 s"
    ELAPSED_MS=$((($(date +%s%N) - start) / 1000000))
    wait "$APP_PID"
    EXIT_STATUS=$?
    APP_PID=
    [ "$EXIT_STATUS" -eq "$3" ] || fail "$1: exit status $EXIT_STATUS, not $3; stderr: $(cat "$artifacts/stderr")"
}

expect_desktop_mode() {
    wait_until 10 shows_mode "$desktop" || fail "$1: the desktop was left at $(current_mode), not $desktop"
}

# The message box of a failed run: the focused window, an untitled dialog.
message_box_in_front() {
    local window
    window=$(xdotool getactivewindow 2>/dev/null) && [ -z "$(xdotool getwindowname "$window" 2>/dev/null)" ] &&
        xprop -id "$window" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q DIALOG
}

scenario_modes() {
    local how
    for how in Escape:0 INT:130 TERM:143 HUP:129; do
        start_demo
        run_fullscreen_1280x720 "${how%:*}"
        if [ "${how%:*}" = Escape ]; then xdotool key Escape; else kill -"${how%:*}" "$APP_PID"; fi
        wait_for_end "${how%:*}" 60 "${how#*:}"
        expect_desktop_mode "${how%:*}"
        echo "PASS: ${how%:*} during a fullscreen run at 1280 x 720: status ${how#*:} after $ELAPSED_MS ms, the desktop back at $desktop"
    done

    # failures after the switch: the box comes up on the desktop in its own mode, and dismissing
    # it, or a signal while it is up, ends the run with the desktop as it was
    start_demo quarvel-broken-shader
    dialog_in_focus "shader failure" >/dev/null
    xdotool key --delay 100 Tab Tab Down Down Return
    wait_until 60 message_box_in_front || fail "shader failure: no message box; stderr: $(cat "$artifacts/stderr")"
    expect_desktop_mode "shader failure, while the box is up"
    import -window root "$artifacts/shader_failure_box.png" 2>/dev/null
    xdotool key Return
    wait_for_end "shader failure" 30 1
    grep -q "shader does not compile" "$artifacts/stderr" || fail "shader failure: stderr says $(cat "$artifacts/stderr")"
    echo "PASS: a scene shader that does not compile: its log in a box on the desktop at $desktop, status 1"

    start_demo quarvel MESA_GL_VERSION_OVERRIDE=3.3
    dialog_in_focus "no OpenGL 4.3" >/dev/null
    xdotool key --delay 100 Tab Tab Down Down Return
    wait_until 60 message_box_in_front || fail "no OpenGL 4.3: no message box; stderr: $(cat "$artifacts/stderr")"
    expect_desktop_mode "no OpenGL 4.3, while the box is up"
    kill -TERM "$APP_PID"
    wait_for_end "no OpenGL 4.3, SIGTERM while the box is up" 30 143
    grep -q "OpenGL 4.3 in a compatibility context is needed" "$artifacts/stderr" || fail "no OpenGL 4.3: stderr says $(cat "$artifacts/stderr")"
    echo "PASS: OpenGL 3.3 only: the box on the desktop at $desktop, and SIGTERM ends it with 143"
}

scenario_window_manager() {
    local marker marker_geometry dialog demo x y w h left right top bottom dx dy
    # a window of the desktop's own, which the demo must leave as it found it (openbox may still
    # be starting when it maps, and then leaves it unfocused)
    xev -geometry 400x300+100+100 -name marker >/dev/null 2>&1 &
    marker=$(wait_for_window marker 30) || fail "the marker window did not appear"
    xdotool windowactivate --sync "$marker" 2>/dev/null
    wait_until 10 has_focus "$marker" || fail "openbox did not focus the marker window"
    marker_geometry=$(geometry_of_window "$marker")

    # the dialog: centred, focused, and Return presses Enter
    start_demo
    dialog=$(dialog_in_focus "dialog") || exit 1
    import -window "$dialog" "$artifacts/dialog_under_openbox.png" 2>/dev/null
    IFS=x+ read -r w h x y <<<"$(geometry_of_window "$dialog")"
    IFS=', ' read -r left right top bottom <<<"$(xprop -id "$dialog" _NET_FRAME_EXTENTS | sed 's/.* = //')"
    # twice the distance from the frame's centre to the screen's; GTK centres the window and the
    # window manager hangs the caption above it, so up to the caption's height off is centred
    dx=$(((x - left) * 2 + w + left + right - 1920)) dy=$(((y - top) * 2 + h + top + bottom - 1080))
    [ "${dx#-}" -le 2 ] && [ "${dy#-}" -le $((2 * top)) ] ||
        fail "the dialog's frame is off the screen's centre by $((dx / 2)), $((dy / 2)) pixels (caption $top)"
    xdotool key Return
    demo=$(wait_for_window Quarvel 60) || fail "Return in the dialog: no demo window"

    # fullscreen at the desktop's size, then in a window: from (0, 0), no frame, the focus without
    # a click, and Escape ends it
    for run in fullscreen:1920x1080 windowed:1280x720; do
        if [ "${run%:*}" = windowed ]; then
            start_demo
            dialog_in_focus windowed >/dev/null
            xdotool key --delay 100 Tab Tab Down Down Tab space Return
            demo=$(wait_for_window Quarvel 60) || fail "windowed: no demo window"
        fi
        wait_until 5 has_geometry "$demo" "${run#*:}+0+0" || fail "${run%:*}: the demo window is $(geometry_of_window "$demo")"
        undecorated "$demo" || fail "${run%:*}: the demo window has a frame: $(xprop -id "$demo" _NET_FRAME_EXTENTS)"
        shows_mode "$desktop" || fail "${run%:*}: the mode changed to $(current_mode)"
        wait_until 10 has_focus "$demo" || fail "${run%:*}: the demo window did not get the focus"
        [ "${run%:*}" = fullscreen ] && wait_for_picture "$artifacts/demo_under_openbox.png" "$APP_PID"
        xdotool key Escape
        wait_for_end "${run%:*}: Escape" 60 0
    done
    echo "PASS: the dialog centred and focused, Return presses Enter; the demo undecorated from (0, 0), fullscreen and in a window, focused, Escape ends it"

    # after a run in another mode, the desktop's window is where it was and has the focus back
    start_demo
    run_fullscreen_1280x720 "the desktop afterwards"
    xdotool key Escape
    wait_for_end "the desktop afterwards" 60 0
    expect_desktop_mode "the desktop afterwards"
    wait_until 10 has_focus "$marker" || fail "the marker window did not get the focus back"
    has_geometry "$marker" "$marker_geometry" || fail "the marker window moved from $marker_geometry to $(geometry_of_window "$marker")"
    echo "PASS: after a fullscreen run at 1280 x 720 the desktop is at $desktop and its window as it was, focused"
}

scenario_cycles() {
    local i start sessions=()
    start=$(date +%s)
    for i in $(seq 1 20); do
        start_demo
        sessions+=("$APP_PID")
        run_fullscreen_1280x720 "run $i"
        xdotool key Escape
        wait_for_end "run $i" 60 0
        expect_desktop_mode "run $i"
        window_named Quarvel >/dev/null && fail "run $i: a demo window outlived its process"
        window_named "Tessmor selektor" >/dev/null && fail "run $i: a dialog outlived its process"
    done
    for i in "${sessions[@]}"; do
        pgrep -s "$i" >/dev/null && fail "a process of a run is left: $(pgrep -a -s "$i")"
    done
    echo "PASS: 20 runs chosen, played and ended with Escape in $(($(date +%s) - start)) s; none left behind, desktop at $desktop"
}

scenario_two_monitors() {
    local case=SdlPlatformTest.ModesAndFullscreenAreThoseOfTheDisplayAtTheOrigin
    # the primary monitor sits to the right; the one at (0, 0) runs at 960 x 540 and alone offers
    # 1152 x 648, and a window of 1920 x 1080 at (0, 0) has its centre on the primary one (an output
    # of the dummy driver has only the modes given to it until it is lit)
    xrandr --newmode 1152x648 60 1152 1160 1200 1240 648 650 655 660 &&
        for mode in 1152x648 960x540 1920x1080; do xrandr --addmode DUMMY1 $mode || break; done &&
        xrandr --output DUMMY1 --mode 960x540 --pos 0x0 --output DUMMY0 --primary --pos 960x0 ||
        fail "the second monitor could not be set up"
    # the dummy driver reports an output connected once it has a mode, to those who probe
    xrandr --query >/dev/null
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
