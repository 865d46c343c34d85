# Sourced by the sound tests: a private sound server with a 44.1 kHz null sink as the default
# output, in a folder of its own, and a recording of that sink's monitor. Everything runs as this
# shell's children and stops when the test exits (stop_sound). Sets PULSE_SERVER and
# XDG_RUNTIME_DIR, so every client of this shell, SDL's PulseAudio and PipeWire drivers among
# them, reaches this server and no other. SOUND_SERVER_PID is the server that plays: pulseaudio,
# or the pipewire daemon.
#   start_sound SERVER    pulseaudio (Debian's stock default.pa) or pipewire (with wireplumber and
#                         pipewire-pulse, on a private D-Bus); none: no server at all
#   start_recording OUT   records the null sink's monitor into OUT (raw 16-bit stereo)
#   stop_recording        ends it; OUT.time then says when each of its blocks arrived
#   start_load            both cores busy at normal priority until stop_sound

SOUND_PIDS=()

start_sound() {
    SOUND_DIR=$(mktemp -d)
    SOUND_SERVER=$1
    mkdir -m 700 "$SOUND_DIR/runtime" "$SOUND_DIR/home"
    export XDG_RUNTIME_DIR=$SOUND_DIR/runtime HOME=$SOUND_DIR/home
    export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse/native
    export PIPEWIRE_RUNTIME_DIR=$XDG_RUNTIME_DIR
    unset PIPEWIRE_REMOTE DBUS_SESSION_BUS_ADDRESS
    trap stop_sound EXIT
    case $1 in
        pulseaudio)
            cat >"$SOUND_DIR/server.pa" <<'PA'
.include /etc/pulse/default.pa
load-module module-null-sink sink_name=quarvel_test rate=44100 channels=2 format=s16le
set-default-sink quarvel_test
PA
            pulseaudio -n -F "$SOUND_DIR/server.pa" --disable-shm=yes --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
                --log-target=file:"$SOUND_DIR/server.log" ${PULSE_LOG_LEVEL:+--log-level=$PULSE_LOG_LEVEL} >/dev/null 2>&1 &
            SOUND_SERVER_PID=$!
            SOUND_PIDS+=($!)
            ;;
        pipewire)
            # a private session bus for wireplumber; pipewire and pipewire-pulse need none
            dbus-daemon --session --nofork --nopidfile --print-address=3 \
                --address="unix:path=$SOUND_DIR/bus" 3>"$SOUND_DIR/bus.address" >/dev/null 2>&1 &
            SOUND_PIDS+=($!)
            export DBUS_SESSION_BUS_ADDRESS="unix:path=$SOUND_DIR/bus"
            for _ in $(seq 1 100); do
                [ -s "$SOUND_DIR/bus.address" ] && break
                sleep 0.05
            done
            pipewire >"$SOUND_DIR/pipewire.log" 2>&1 &
            SOUND_SERVER_PID=$!
            SOUND_PIDS+=($!)
            # wireplumber gives up on a server it cannot reach yet
            for _ in $(seq 1 100); do
                [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && break
                sleep 0.05
            done
            wireplumber >"$SOUND_DIR/wireplumber.log" 2>&1 &
            SOUND_PIDS+=($!)
            pipewire-pulse >"$SOUND_DIR/pipewire-pulse.log" 2>&1 &
            SOUND_PIDS+=($!)
            ;;
        none)
            return 0
            ;;
    esac
    for _ in $(seq 1 100); do
        pactl info >/dev/null 2>&1 && break
        sleep 0.1
    done
    if [ "$1" = pipewire ]; then
        pactl load-module module-null-sink sink_name=quarvel_test \
            rate=44100 channels=2 >/dev/null || return 1
        # the graph at the file's rate, so that what the sink plays is not resampled
        pw-metadata -n settings 0 clock.force-rate 44100 >/dev/null || return 1
    fi
    # PipeWire takes a default sink only once wireplumber has its metadata up ("Not supported")
    for _ in $(seq 1 100); do
        if [ "$1" = pipewire ]; then
            pactl set-default-sink quarvel_test 2>/dev/null && pactl set-sink-volume quarvel_test 100% 2>/dev/null
        fi
        [ "$(pactl get-default-sink 2>/dev/null)" = quarvel_test ] && return 0
        sleep 0.1
    done
    echo "the $1 server did not come up with its null sink as the default output" >&2
    tail -n 20 "$SOUND_DIR"/*.log >&2
    return 1
}

start_recording() {
    RECORDING=$1
    # PulseAudio 16's null sink leaves the first stream of an idle sink unserved: a stream of
    # silence keeps it running, as a desktop's sound card sink runs. PipeWire's needs none, and
    # would run its whole graph at this stream's 5 ms, which a busy machine cannot keep up with
    if [ "$SOUND_SERVER" = pulseaudio ]; then
        pacat --raw --format=s16le --rate=44100 --channels=2 --latency-msec=20 /dev/zero 2>/dev/null &
        SOUND_PIDS+=($!)
    fi
    coproc RECORDER { exec "$SINK_MONITOR" record quarvel_test.monitor "$RECORDING"; }
    SOUND_PIDS+=($RECORDER_PID)
    local line
    read -r -t 10 line <&"${RECORDER[0]}" && [ "$line" = recording ] || return 1
    # a fresh server's sink takes a second or so to settle at the latency asked of it, and holds
    # a new stream back until then: wait for half a second of recorded silence
    for _ in $(seq 1 100); do
        [ "$(stat -c %s "$RECORDING")" -ge 88200 ] && return 0
        sleep 0.1
    done
    return 1
}

stop_recording() {
    kill -TERM "$RECORDER_PID" 2>/dev/null
    wait "$RECORDER_PID" 2>/dev/null
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
    # the X server goes too: a wait on all children would wait for it for ever
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
    local pid
    for pid in "${SOUND_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    [ -n "${XVFB_PID:-}" ] && stop_xvfb
    [ -n "${SOUND_DIR:-}" ] && rm -rf "$SOUND_DIR"
    SOUND_PIDS=() SOUND_DIR=
}
