# Sourced by the sound tests: a private sound server with a 44.1 kHz null sink as the default
# output, in a folder of its own, a recording of that sink's monitor, and the demo's show on it.
# Everything runs as this shell's children and stops when the test exits (stop_sound). Sets
# PULSE_SERVER and XDG_RUNTIME_DIR, so every client of this shell, SDL's PulseAudio and PipeWire
# drivers among them, reaches this server and no other. SOUND_SERVER_PID is the server that
# plays: pulseaudio, or the pipewire daemon. SINK_MONITOR: the sink-monitor program.
#   start_sound SERVER    pulseaudio (Debian's stock default.pa) or pipewire (with wireplumber and
#                         pipewire-pulse, on a private D-Bus); none: no server at all
#   kill_sound            the server killed, as by a crash; run_sound_server starts it again
#   start_recording OUT [SINK]
#                         records the monitor of the null sink (or of SINK) into OUT (raw 16-bit
#                         stereo), and makes OUT the RECORDING compared
#   start_late_sink SINK OUT
#                         a sink that plays what it takes 70 to 90 ms later, and says so, as a
#                         sound card does (PulseAudio's pipe sink into a FIFO that sink-monitor
#                         drains by the clock); records what it plays as start_recording does
#   stop_recording        ends every recording; OUT.time then says when each of its blocks had played, OUT.faults
#                         what the recorder lost and when a processor stood still
#   start_load            both cores busy at normal priority until stop_sound
#   start_show BIN_DIR OUT_DIR
#                         quarvel-clock-probe from BIN_DIR in the X display, through its dialog
#                         (the first size, fullscreen) to its clock's origin: sets APP_PID and
#                         ORIGIN (CLOCK_MONOTONIC ms); its output goes to OUT_DIR/stdout, stderr
#   end_show [SIGNAL]     Escape, or the signal, then the demo's end: sets EXIT_STATUS, and ENDED_MS
#                         when it was asked to end
#   compare_recording [FROM_MS:TO_MS...]
#                         the recording, kept in start_show's OUT_DIR whatever comes of it, set
#                         against the file and ORIGIN (sink-monitor compare, faults within the
#                         stretches not counted): sets FIGURES and from it
#                         COMPARED (seconds of the file the recording follows), DROPOUTS, MISSING, FIRST_MS (the first frame from the origin),
#                         LARGEST_MS (the file's offset from its place from its first second on)
#   monotonic_ms          now on the clock the demo and the recorder use
. "$(dirname "${BASH_SOURCE[0]}")/harness.sh"

SOUND_PIDS=()
RECORDER_PIDS=()

start_sound() {
    SOUND_DIR=$(mktemp -d)
    SOUND_SERVER=$1
    mkdir -m 700 "$SOUND_DIR/runtime" "$SOUND_DIR/home"
    export XDG_RUNTIME_DIR=$SOUND_DIR/runtime HOME=$SOUND_DIR/home
    export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse/native
    export PIPEWIRE_RUNTIME_DIR=$XDG_RUNTIME_DIR
    unset PIPEWIRE_REMOTE DBUS_SESSION_BUS_ADDRESS
    on_exit stop_sound
    [ "$1" = none ] && return 0
    if [ "$1" = pipewire ]; then
        # a private session bus for wireplumber; pipewire and pipewire-pulse need none
        dbus-daemon --session --nofork --nopidfile --print-address=3 \
            --address="unix:path=$SOUND_DIR/bus" 3>"$SOUND_DIR/bus.address" >/dev/null 2>&1 &
        SOUND_PIDS+=($!)
        export DBUS_SESSION_BUS_ADDRESS="unix:path=$SOUND_DIR/bus"
        wait_until 5 test -s "$SOUND_DIR/bus.address" || return 1
    fi
    run_sound_server
}

# The server's own processes, with the null sink as the default output.
run_sound_server() {
    SERVER_PIDS=()
    case $SOUND_SERVER in
        pulseaudio)
            cat >"$SOUND_DIR/server.pa" <<'PA'
.include /etc/pulse/default.pa
load-module module-null-sink sink_name=quarvel_test rate=44100 channels=2 format=s16le
set-default-sink quarvel_test
PA
            pulseaudio -n -F "$SOUND_DIR/server.pa" --disable-shm=yes --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
                --log-target=file:"$SOUND_DIR/server.log" ${PULSE_LOG_LEVEL:+--log-level=$PULSE_LOG_LEVEL} >/dev/null 2>&1 &
            SOUND_SERVER_PID=$!
            SERVER_PIDS+=($!)
            ;;
        pipewire)
            pipewire >>"$SOUND_DIR/pipewire.log" 2>&1 &
            SOUND_SERVER_PID=$!
            SERVER_PIDS+=($!)
            # wireplumber gives up on a server it cannot reach yet
            wait_until 5 test -S "$XDG_RUNTIME_DIR/pipewire-0"
            wireplumber >>"$SOUND_DIR/wireplumber.log" 2>&1 &
            SERVER_PIDS+=($!)
            pipewire-pulse >>"$SOUND_DIR/pipewire-pulse.log" 2>&1 &
            SERVER_PIDS+=($!)
            ;;
    esac
    SOUND_PIDS+=("${SERVER_PIDS[@]}")
    wait_until 10 eval 'pactl info >/dev/null 2>&1' || true
    if [ "$SOUND_SERVER" = pipewire ]; then
        pactl load-module module-null-sink sink_name=quarvel_test \
            rate=44100 channels=2 >/dev/null || return 1
        # the graph at the file's rate, so that what the sink plays is not resampled
        pw-metadata -n settings 0 clock.force-rate 44100 >/dev/null || return 1
    fi
    # PipeWire takes a default sink only once wireplumber has its metadata up ("Not supported")
    wait_until 10 null_sink_is_default && return 0
    echo "the $SOUND_SERVER server did not come up with its null sink as the default output" >&2
    tail -n 20 "$SOUND_DIR"/*.log >&2
    return 1
}

null_sink_is_default() {
    if [ "$SOUND_SERVER" = pipewire ]; then
        pactl set-default-sink quarvel_test 2>/dev/null && pactl set-sink-volume quarvel_test 100% 2>/dev/null
    fi
    [ "$(pactl get-default-sink 2>/dev/null)" = quarvel_test ]
}

kill_sound() {
    kill -9 "${SERVER_PIDS[@]}" 2>/dev/null
    wait "${SERVER_PIDS[@]}" 2>/dev/null
    rm -f "$XDG_RUNTIME_DIR/pipewire-0" "$XDG_RUNTIME_DIR/pipewire-0.lock"
}

start_recording() {
    local sink=${2:-quarvel_test}
    # PulseAudio 16's null sink leaves the first stream of an idle sink unserved: a stream of
    # silence keeps it running, as a desktop's sound card sink runs. PipeWire's needs none, and
    # would run its whole graph at this stream's 5 ms, which a busy machine cannot keep up with
    if [ "$SOUND_SERVER" = pulseaudio ]; then
        pacat --device="$sink" --raw --format=s16le --rate=44100 --channels=2 --latency-msec=20 /dev/zero 2>/dev/null &
        SOUND_PIDS+=($!)
    fi
    start_recorder record "$sink.monitor" "$1"
}

start_late_sink() {
    local fifo=$SOUND_DIR/$1.fifo
    mkfifo "$fifo" && start_recorder drain "$fifo" "$2" || return 1
    pactl load-module module-pipe-sink file="$fifo" sink_name="$1" rate=44100 channels=2 format=s16le >/dev/null
}

# start_recorder MODE FROM OUT: sink-monitor recording, until stop_recording
start_recorder() {
    RECORDING=$3
    "$SINK_MONITOR" "$1" "$2" "$RECORDING" >"$RECORDING.ready" &
    RECORDER_PIDS+=($!)
    SOUND_PIDS+=($!)
    wait_until 10 grep -q '^recording$' "$RECORDING.ready" || return 1
    # a fresh server's sink takes a second or so to settle at the latency asked of it, and holds
    # a new stream back until then: wait for half a second of recording
    wait_until 10 eval '[ "$(stat -c %s "$RECORDING")" -ge 88200 ]'
}

stop_recording() {
    kill -TERM "${RECORDER_PIDS[@]}" 2>/dev/null
    wait "${RECORDER_PIDS[@]}" 2>/dev/null
    RECORDER_PIDS=()
}

start_load() {
    local cores
    cores=$(nproc)
    for _ in $(seq 1 "$cores"); do
        (while :; do :; done) &
        SOUND_PIDS+=($!)
    done
}

stop_sound() {
    [ -n "${APP_PID:-}" ] && kill -9 "$APP_PID" 2>/dev/null
    local pid
    for pid in "${SOUND_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    wait ${APP_PID:-} "${SOUND_PIDS[@]}" 2>/dev/null
    [ -n "${SOUND_DIR:-}" ] && rm -rf "$SOUND_DIR"
    SOUND_PIDS=() SOUND_DIR= APP_PID=
}

monotonic_ms() {
    "$SINK_MONITOR" now
}

start_show() {
    local bin_dir=$1 out=$2
    SHOW_OUT=$out
    # Under the sanitizers, no leak check on the way out: GCC 12's LeakSanitizer now and then
    # crashes in its own tracer while it stops the sound servers' client threads, after a clean
    # run (status 134, "Tracer caught signal 11"). The unit and GL tests keep the leak checks.
    (cd "$bin_dir" && ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:detect_leaks=0} \
        exec "${PRELOAD[@]}" ./quarvel-clock-probe >"$out/stdout" 2>"$out/stderr") &
    APP_PID=$!
    local dialog
    dialog=$(wait_for_window "Tessmor selektor" 60 "$APP_PID") || fail "no launcher dialog; stderr: $(cat "$out/stderr")"
    # the screen's one size, the list's first item, fullscreen
    xdotool windowfocus --sync "$dialog" 2>/dev/null
    xdotool key --delay 100 Down Return
    wait_until 60 eval 'grep -q "^clock origin:" "$out/stderr" || ! kill -0 $APP_PID 2>/dev/null'
    ORIGIN=$(sed -n 's/^clock origin: \([0-9.]*\) ms$/\1/p' "$out/stderr")
    [ -n "$ORIGIN" ] || fail "the clock never started: $(cat "$out/stderr")"
}

end_show() {
    ENDED_MS=$(monotonic_ms)
    if [ -n "${1:-}" ]; then
        kill -s "$1" "$APP_PID"
    else
        local window
        window=$(window_named Quarvel) || fail "no demo window"
        xdotool windowfocus --sync "$window" 2>/dev/null
        xdotool key Escape
    fi
    wait_for_exit "$APP_PID" 60 || fail "the demo did not end within 60 s of ${1:-Escape}"
    APP_PID=
}

compare_recording() {
    # the last frames leave the server a little after the stream is gone
    sleep 0.3
    stop_recording
    cp "$RECORDING"* "$SHOW_OUT/"
    FIGURES=$("$SINK_MONITOR" compare "$SOUND_DIR/file.s16" "$RECORDING" "$ORIGIN" "$@") || fail "$FIGURES"
    COMPARED=$(sed -E 's/^compared ([0-9.]+) s.*/\1/' <<<"$FIGURES")
    read -r DROPOUTS MISSING FIRST_MS LARGEST_MS <<<"$(sed -E 's/.* ([0-9]+) dropouts.* ([0-9]+) first frames missing.* heard ([-+][0-9.]+) ms.* at most ([0-9.]+) ms.*/\1 \2 \3 \4/' <<<"$FIGURES")"
}
