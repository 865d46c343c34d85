# Sourced by the end-to-end tests: starts a private Xvfb and stops it when the test exits.
# Sets DISPLAY. Usage: start_xvfb WIDTHxHEIGHT
. "$(dirname "${BASH_SOURCE[0]}")/harness.sh"

start_xvfb() {
    local size=$1
    # the server picks a free display itself, so tests running side by side never share one;
    # -noreset: by default the server resets whenever its last client leaves (the readiness check
    # below, every xdotool call), and a program that connects during a reset is turned away
    XVFB_DISPLAY_FILE=$(mktemp)
    Xvfb -displayfd 1 -noreset -screen 0 "${size}x24" -nolisten tcp >"$XVFB_DISPLAY_FILE" 2>/dev/null &
    XVFB_PID=$!
    on_exit stop_xvfb
    await_display "$XVFB_DISPLAY_FILE" "$XVFB_PID" && return 0
    echo "could not start Xvfb" >&2
    return 1
}

# await_display FILE PID: waits up to ten seconds for the X server PID to write its display
# number to FILE (-displayfd) and take connections, then exports DISPLAY; fails if it dies first
await_display() {
    local n
    for _ in $(seq 1 100); do
        n=$(head -n 1 "$1" 2>/dev/null)
        if [ -n "$n" ] && xdpyinfo -display ":${n}" >/dev/null 2>&1; then
            export DISPLAY=":${n}"
            return 0
        fi
        kill -0 "$2" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

stop_xvfb() {
    [ -n "${APP_PID:-}" ] && kill "$APP_PID" 2>/dev/null
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
    # only what this session started: a sound server of the same test has its own cleanup
    wait ${APP_PID:-} ${XVFB_PID:-} 2>/dev/null
    rm -f "${XVFB_DISPLAY_FILE:-}"
    XVFB_PID= XVFB_DISPLAY_FILE=
}

# Prints the id of a window named exactly $1. xdotool's own match ignores case, and GTK gives a
# hidden window the program's name ("quarvel").
window_named() {
    local id
    for id in $(xdotool search --name "^${1}\$" 2>/dev/null); do
        [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "$1" ] && { echo "$id"; return 0; }
    done
    return 1
}

# Waits up to $2 seconds for a window named exactly $1 and prints its id; with a process id $3,
# gives up as soon as that process has ended.
wait_for_window() {
    local name=$1 seconds=$2 pid=${3:-}
    for _ in $(seq 1 $((seconds * 10))); do
        window_named "$name" && return 0
        [ -z "$pid" ] || kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# Takes screenshots of the whole screen into $1 until one is not a single colour, for up to 60 s
# while process $2 runs (the software rasteriser may take seconds a frame). Sets COLOURS.
wait_for_picture() {
    local shot=$1 pid=$2
    COLOURS=1
    for _ in $(seq 1 60); do
        kill -0 "$pid" 2>/dev/null || fail "the program ended before its picture was seen"
        import -window root "$shot" || fail "no screenshot"
        COLOURS=$(convert "$shot" -format '%k' info:)
        [ "$COLOURS" -gt 1 ] && return 0
        sleep 1
    done
    fail "the screen shows one uniform colour: no frame was drawn"
}

# Waits up to $2 seconds for process $1 to end; sets EXIT_STATUS.
wait_for_exit() {
    local pid=$1 seconds=$2
    for _ in $(seq 1 $((seconds * 10))); do
        if ! kill -0 "$pid" 2>/dev/null; then
            wait "$pid"
            EXIT_STATUS=$?
            return 0
        fi
        sleep 0.1
    done
    return 1
}
