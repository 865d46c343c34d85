#!/usr/bin/env bash
# A private X server for the tests that need one. Sourced, it defines start_xvfb and stop_xvfb;
# run as "xvfb_session.sh WIDTHxHEIGHT COMMAND...", it runs COMMAND on a fresh server of that size.

# Starts Xvfb with one screen of $1 (WIDTHxHEIGHT) at 24 bits and exports DISPLAY. The server picks a
# free display number itself, so tests running side by side never collide.
start_xvfb() {
    local size=$1 fifo
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset 3>"$fifo" 2>/dev/null &
    xvfb_pid=$!
    local number
    if ! read -r -t 60 number <"$fifo"; then
        rm -f "$fifo"
        echo "Xvfb did not start" >&2
        return 1
    fi
    rm -f "$fifo"
    export DISPLAY=":$number"
    # the dialog's toolkit looks for an accessibility bus that a bare server does not have
    export NO_AT_BRIDGE=1
}

stop_xvfb() {
    if [ -n "${xvfb_pid:-}" ]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
        xvfb_pid=
    fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -u
    size=$1
    shift
    trap stop_xvfb EXIT
    start_xvfb "$size" || exit 1
    "$@"
fi
