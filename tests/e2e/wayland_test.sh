#!/usr/bin/env bash
# The demo in a Wayland session with no X server of its own: weston nested in a private Xvfb
# (its X11 backend gives it a seat; weston's headless backend has none, and SDL 2.26 crashes in
# SDL_Init without one). The launcher dialog comes up as a Wayland window with the display's
# modes, and a stop signal closes it with 128 + its number.
# Usage: wayland_test.sh QUARVEL ARTIFACT_DIR. Leaves ARTIFACT_DIR/wayland_dialog.png.
set -u
quarvel=$1
artifacts=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/xvfb_session.sh"
start_xvfb 1920x1080 || exit 1
mkdir -p "$artifacts"
private_dir runtime
WESTON_PID=
on_exit '[ -n "$WESTON_PID" ] && kill "$WESTON_PID" 2>/dev/null'
chmod 700 "$runtime"
export XDG_RUNTIME_DIR=$runtime
weston --backend=x11-backend.so --use-pixman --no-config --socket=wayland-quarvel --width=1600 --height=900 \
    >"$artifacts/weston.log" 2>&1 &
WESTON_PID=$!
for _ in $(seq 1 100); do
    [ -S "$runtime/wayland-quarvel" ] && break
    sleep 0.1
done
[ -S "$runtime/wayland-quarvel" ] || fail "weston did not start: $(tail -n 5 "$artifacts/weston.log")"

export SDL_AUDIODRIVER=dummy NO_AT_BRIDGE=1
for signal in INT:130 TERM:143; do
    # the protocol log on stderr tells when the dialog's window has its title
    (cd "$runtime" && exec env -u DISPLAY WAYLAND_DISPLAY=wayland-quarvel WAYLAND_DEBUG=client \
        "$quarvel" >"$artifacts/wayland_stdout" 2>"$artifacts/wayland_stderr") &
    APP_PID=$!
    for _ in $(seq 1 600); do
        grep -q 'set_title("Tessmor selektor")' "$artifacts/wayland_stderr" && break
        kill -0 "$APP_PID" 2>/dev/null || break
        sleep 0.1
    done
    grep -q 'set_title("Tessmor selektor")' "$artifacts/wayland_stderr" ||
        fail "no dialog on Wayland; stderr ends: $(grep -v '^\[' "$artifacts/wayland_stderr" | tail -n 5)"
    sleep 1  # for the screenshot: the first frame of the dialog
    [ "$signal" = INT:130 ] && import -window root "$artifacts/wayland_dialog.png"
    kill -"${signal%:*}" "$APP_PID"
    wait_for_exit "$APP_PID" 30 || fail "SIG${signal%:*}: the dialog on Wayland did not close"
    APP_PID=
    [ "$EXIT_STATUS" -eq "${signal#*:}" ] ||
        fail "SIG${signal%:*}: status $EXIT_STATUS; stderr ends: $(grep -v '^\[' "$artifacts/wayland_stderr" | tail -n 5)"
    echo "PASS: on Wayland the dialog opens, and SIG${signal%:*} closes it with status ${signal#*:}"
done
