#!/usr/bin/env bash
# The launcher dialog as the viewer meets it: the real program on a private X server, driven with
# xdotool. Usage: launcher_dialog_xvfb_test.sh QUARVEL SEND_CLOSE_REQUEST ARTIFACT_DIR
# Leaves a screenshot of the dialog in ARTIFACT_DIR/launcher_dialog.png.
set -u

quarvel=$1
send_close_request=$2
artifacts=$3

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/xvfb_session.sh"

work=$(mktemp -d)
demo_pid=
xev_pid=
cleanup() {
    [ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null
    [ -n "$xev_pid" ] && kill "$xev_pid" 2>/dev/null
    stop_xvfb
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# the window whose name is exactly $1 (xdotool's own match ignores case and matches parts)
find_window() {
    local w
    for w in $(xdotool search --name "$1" 2>/dev/null); do
        [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$1" ] && { echo "$w"; return 0; }
    done
    return 1
}

# waits for a window named $1 while the demo runs; these deadlines only stop a hung run
wait_window() {
    local i
    for i in $(seq 600); do
        find_window "$1" && return 0
        kill -0 "$demo_pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

demo_running() { kill -0 "$demo_pid" 2>/dev/null; }

# waits for the demo to end and prints its exit status
wait_demo() {
    local i status
    for i in $(seq 600); do
        demo_running || break
        sleep 0.1
    done
    if demo_running; then
        kill "$demo_pid"
        wait "$demo_pid" 2>/dev/null
        demo_pid=
        echo "hung"
        return
    fi
    wait "$demo_pid"
    status=$?
    demo_pid=
    echo "$status"
}

# keys for window $1, through the server's input like a real keyboard: the toolkit ignores
# keys sent straight to a window
press() {
    local window=$1
    shift
    xdotool windowfocus --sync "$window" 2>/dev/null
    xdotool key --delay 50 "$@" 2>/dev/null
}

start_demo() {
    : >"$work/windows.log"
    # every top-level window the server creates, with its size
    stdbuf -oL xev -root -event substructure >"$work/windows.log" 2>/dev/null &
    xev_pid=$!
    sleep 0.2
    (cd "$work" && SDL_AUDIODRIVER=dummy exec "$quarvel" >"$work/stdout" 2>"$work/stderr") &
    demo_pid=$!
}

stop_watching() {
    sleep 0.2
    kill "$xev_pid" 2>/dev/null
    wait "$xev_pid" 2>/dev/null
    xev_pid=
}

# whether a top-level window of exactly the screen's size was created: the demo's, never the dialog's
screen_sized_window_created() {
    grep -qE "width $1, height $2\$" "$work/windows.log"
}

# the Fullscreen box decides whether the demo asks for the whole screen
is_fullscreen() {
    xprop -id "$1" _NET_WM_STATE 2>/dev/null | grep -q _NET_WM_STATE_FULLSCREEN
}

# --- a 1920 x 1080 screen offers the preset size, which is preselected --------------------------
start_xvfb 1920x1080 || exit 1

echo "Return starts the run at the preselected size"
start_demo
if dialog=$(wait_window "Tessmor selektor"); then
    mkdir -p "$artifacts"
    import -window "$dialog" "$artifacts/launcher_dialog.png" 2>/dev/null || fail "no screenshot of the dialog"
    press "$dialog" Return
    if demo=$(wait_window Quarvel); then
        geometry=$(xdotool getwindowgeometry "$demo" | sed -n 's/.*Geometry: //p')
        [ "$geometry" = "1920x1080" ] || fail "the demo window is $geometry, not 1920x1080"
        find_window "Tessmor selektor" >/dev/null && fail "the dialog is still there beside the demo"
        is_fullscreen "$demo" || fail "the Fullscreen box starts checked, yet the demo is not fullscreen"
        press "$demo" Escape
    else
        fail "no demo window after Return"
    fi
else
    fail "no window captioned \"Tessmor selektor\""
fi
status=$(wait_demo)
[ "$status" = 0 ] || fail "Return then Escape: exit status $status; stderr: $(cat "$work/stderr")"
stop_watching

for how in Escape close-button Exit-by-tab; do
    echo "$how ends with status 0 and no demo window"
    start_demo
    if dialog=$(wait_window "Tessmor selektor"); then
        case $how in
        Escape) press "$dialog" Escape ;;
        close-button) "$send_close_request" "$dialog" ;;
        # Enter has the focus, Exit is the next tab stop, and Return presses the focused button
        Exit-by-tab) press "$dialog" Tab Return ;;
        esac
    else
        fail "$how: no dialog"
    fi
    status=$(wait_demo)
    stop_watching
    [ "$status" = 0 ] || fail "$how: exit status $status; stderr: $(cat "$work/stderr")"
    screen_sized_window_created 1920 1080 && fail "$how: a demo window was opened"
done

stop_xvfb

# --- a 1280 x 720 screen does not offer the preset size: nothing is preselected ----------------
start_xvfb 1280x720 || exit 1

echo "Return without a choice waits; the offered 1280 x 720, windowed, starts the run"
start_demo
if dialog=$(wait_window "Tessmor selektor"); then
    press "$dialog" Return
    sleep 1
    demo_running || fail "Return with nothing chosen ended the dialog"
    find_window Quarvel >/dev/null && fail "Return with nothing chosen opened the demo"
    # Tab to the Resolution list, Down picks its first item, Tab to the Fullscreen box, space
    # unchecks it, Return presses the default button
    press "$dialog" Tab Tab Down Tab space Return
    if demo=$(wait_window Quarvel); then
        geometry=$(xdotool getwindowgeometry "$demo" | sed -n 's/.*Geometry: //p')
        [ "$geometry" = "1280x720" ] || fail "the demo window is $geometry, not the chosen 1280x720"
        is_fullscreen "$demo" && fail "the Fullscreen box was unchecked, yet the demo is fullscreen"
        press "$demo" Escape
    else
        fail "no demo window after choosing 1280 x 720"
    fi
else
    fail "no dialog on the 1280 x 720 screen"
fi
status=$(wait_demo)
stop_watching
[ "$status" = 0 ] || fail "windowed run: exit status $status; stderr: $(cat "$work/stderr")"

stop_xvfb

# --- without any display the dialog cannot be shown, and nothing runs ---------------------------
echo "no display: a line on stderr and a failure status"
(cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY "$quarvel" >"$work/stdout" 2>"$work/stderr")
status=$?
[ "$status" != 0 ] || fail "no display, yet exit status 0"
grep -q "launcher dialog cannot be shown" "$work/stderr" || fail "no display, and stderr says: $(cat "$work/stderr")"

[ "$failures" = 0 ] && echo "all passed"
exit $((failures > 0))
