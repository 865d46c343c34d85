#!/usr/bin/env bash
# The launcher dialog as the viewer meets it: the real program in Xvfb, driven with xdotool.
# Usage: launcher_dialog_xvfb_test.sh QUARVEL SEND_CLOSE_REQUEST ARTIFACT_DIR
# Leaves screenshots of the dialog in ARTIFACT_DIR: launcher_dialog.png, and at a desktop scale of
# two, launcher_dialog_scale2.png (GDK_SCALE=2) and launcher_dialog_dpi192.png (Xft.dpi 192).
set -u
quarvel=$1
send_close_request=$2
artifacts=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../e2e/xvfb_session.sh"
mkdir -p "$artifacts"

private_dir work
XEV_PID=
on_exit '[ -n "$XEV_PID" ] && kill "$XEV_PID" 2>/dev/null'

export SDL_AUDIODRIVER=dummy
# a bare X server has no accessibility bus for the toolkit to find
export NO_AT_BRIDGE=1

# Keys through the server's input, as from a keyboard: GTK ignores keys sent to a window directly.
press() {
    local window=$1
    shift
    xdotool windowfocus --sync "$window" 2>/dev/null
    xdotool key --delay 50 "$@"
}

geometry_of() {
    xdotool getwindowgeometry "$1" | sed -n 's/.*Geometry: //p'
}

# Sets a new property of the root window until the window log shows it (xev may still be starting):
# the server reports events in order, so everything it did before is in the log by then.
MARKS=0
mark_window_log() {
    MARKS=$((MARKS + 1))
    local mark=_QUARVEL_TEST_MARK_$MARKS
    for _ in $(seq 1 100); do
        xprop -root -f "$mark" 32c -set "$mark" 1
        grep -q "($mark)" "$work/windows.log" && return 0
        sleep 0.05
    done
    fail "the window log never showed $mark"
}

# Starts the demo with a log of every top-level window the server creates, and its size; with
# `watched`, as the child of a parent that passes on its exit status and ends with 255 where a
# signal killed it, the demo's pid in DEMO_PID: the shell would give 128 + N either way.
start_demo() {
    stdbuf -oL xev -root -event substructure -event property >"$work/windows.log" 2>/dev/null &
    XEV_PID=$!
    MARKS=0
    mark_window_log
    if [ "${1:-}" = watched ]; then
        rm -f "$work/demo.pid"
        (cd "$work" && exec python3 -c 'import subprocess, sys
demo = subprocess.Popen(sys.argv[2:])
open(sys.argv[1], "w").write(str(demo.pid))
status = demo.wait()
sys.exit(status if status >= 0 else 255)' "$work/demo.pid" "$quarvel" \
            >"$work/stdout" 2>"$work/stderr") &
        APP_PID=$!
        wait_until 10 test -s "$work/demo.pid" || fail "the demo did not start"
        DEMO_PID=$(cat "$work/demo.pid")
    else
        (cd "$work" && exec "$quarvel" >"$work/stdout" 2>"$work/stderr") &
        APP_PID=$! DEMO_PID=$!
    fi
}

# Waits for the demo to end and checks its status, then closes the window log.
expect_exit_status() {
    wait_for_exit "$APP_PID" 60 || fail "$2: the program did not end"
    APP_PID=
    mark_window_log
    kill "$XEV_PID" 2>/dev/null
    wait "$XEV_PID" 2>/dev/null
    XEV_PID=
    [ "$EXIT_STATUS" -eq "$1" ] || fail "$2: exit status $EXIT_STATUS; stderr: $(cat "$work/stderr")"
}

# The demo's window is the only one of exactly the screen's size.
demo_window_was_created() {
    grep -qE "width $1, height $2\$" "$work/windows.log"
}

# --- a 1920 x 1080 screen: the preset size is offered and preselected ---------------------------
start_xvfb 1920x1080 || exit 1

start_demo
dialog=$(wait_for_window "Tessmor selektor" 60) || fail "no window captioned \"Tessmor selektor\""
import -window "$dialog" "$artifacts/launcher_dialog.png" || fail "no screenshot of the dialog"
press "$dialog" Return
demo=$(wait_for_window Quarvel 60) || fail "Return: no demo window"
[ "$(geometry_of "$demo")" = "1920x1080" ] || fail "Return: the demo window is $(geometry_of "$demo")"
window_named "Tessmor selektor" >/dev/null && fail "Return: the dialog is still there beside the demo"
press "$demo" Escape
expect_exit_status 0 "Return, then Escape in the demo"
demo_window_was_created 1920 1080 || fail "the window log missed the demo's window"
echo "PASS: Return starts the run at the preselected 1920 x 1080"

for how in Escape close-button Tab-to-Exit; do
    start_demo
    dialog=$(wait_for_window "Tessmor selektor" 60) || fail "$how: no dialog"
    case $how in
    Escape) press "$dialog" Escape ;;
    close-button) "$send_close_request" "$dialog" ;;
    # Enter has the focus; Exit is the next tab stop, and Return presses the focused button
    Tab-to-Exit) press "$dialog" Tab Return ;;
    esac
    expect_exit_status 0 "$how"
    ! demo_window_was_created 1920 1080 || fail "$how: a demo window was opened"
    # the soundtrack's status line comes after the window; nothing of the run may have begun
    [ ! -s "$work/stdout" ] || fail "$how: the run began: $(cat "$work/stdout")"
    echo "PASS: $how ends with status 0 and no demo window"
done

# Ctrl-C and the other stop signals close the dialog as Exit does, and the demo ends with 128 +
# the signal's number itself
for signal in INT:130 TERM:143 HUP:129; do
    start_demo watched
    wait_for_window "Tessmor selektor" 60 >/dev/null || fail "SIG${signal%:*}: no dialog"
    kill -"${signal%:*}" "$DEMO_PID"
    expect_exit_status "${signal#*:}" "SIG${signal%:*} while the dialog is up"
    ! demo_window_was_created 1920 1080 || fail "SIG${signal%:*}: a demo window was opened"
    echo "PASS: SIG${signal%:*} closes the dialog with status ${signal#*:}"
done

# twice the scale: the dialog twice the size in pixels, each text in its box (gtk_dialog_tests
# checks the boxes; these are for the eye)
expect_dialog_twice_as_large() {
    local dialog size
    dialog=$(wait_for_window "Tessmor selektor" 60) || fail "$1: no dialog"
    import -window "$dialog" "$artifacts/launcher_dialog_$1.png" || fail "$1: no screenshot"
    size=$(xwininfo -id "$dialog" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
    # 111 dialog units down are 180.4 pixels at one scale, 360.8 at twice the font's dpi
    [ "$size" = 558x360 ] || [ "$size" = 558x361 ] || fail "$1: the dialog is $size, not twice 279x180"
    press "$dialog" Escape
    expect_exit_status 0 "$1: Escape"
    echo "PASS: $1: the dialog is $size"
}
export GDK_SCALE=2
start_demo
unset GDK_SCALE
expect_dialog_twice_as_large scale2
echo "Xft.dpi: 192" | xrdb -merge
start_demo
expect_dialog_twice_as_large dpi192
xrdb -remove
stop_xvfb

# --- a 1280 x 720 screen does not offer the preset 1920 x 1080: nothing is preselected ----------
start_xvfb 1280x720 || exit 1

start_demo
dialog=$(wait_for_window "Tessmor selektor" 60) || fail "1280 x 720: no dialog"
# Return with nothing chosen presses nothing: Enter is disabled and the Resolution list has the
# focus. Down then takes its first item, Tab goes on to the Fullscreen box, space unchecks it, and
# Return presses the default button, Enter (the run in a window looks like a fullscreen one on a
# server without a window manager; the logic tests check `windowed`). Had the first Return
# pressed a button, the program would have ended or opened the preset 1920 x 1080.
press "$dialog" Return Down Tab space Return
demo=$(wait_for_window Quarvel 60 "$APP_PID") || {
    kill -0 "$APP_PID" 2>/dev/null || fail "the dialog ended before a size was chosen: $(cat "$work/stderr")"
    fail "no demo window after choosing 1280 x 720"
}
[ "$(geometry_of "$demo")" = "1280x720" ] || fail "the demo window is $(geometry_of "$demo"), not the chosen 1280x720"
press "$demo" Escape
expect_exit_status 0 "a chosen size in a window"
echo "PASS: nothing preselected, Return waits; 1280 x 720 chosen with the keyboard starts the run"
stop_xvfb

# --- no display at all: the dialog cannot be shown and nothing runs -----------------------------
(cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY "$quarvel" >"$work/stdout" 2>"$work/stderr")
status=$?
[ "$status" -ne 0 ] || fail "no display, yet exit status 0"
grep -q "launcher dialog cannot be shown" "$work/stderr" || fail "no display: stderr says $(cat "$work/stderr")"
echo "PASS: no display gives status $status and: $(cat "$work/stderr")"
