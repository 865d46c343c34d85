#!/usr/bin/env bash
# The soundtrack through a real sound server, on a machine kept busy: a private server with a null
# sink (sound_session.sh), the demo (quarvel-clock-probe) in Xvfb at 640 x 360 for SECONDS of
# show, then Escape; or for the whole show with SECONDS=all. The sink's monitor is set against the
# file as ffmpeg decodes it. Passes with no dropout, no first sample missing, the first sample
# heard within 10 ms of the clock's origin, so the picture trails the sound by 50 ms, and the
# sound within 10 ms of its place from then on; for the whole show, the recording following the
# file to the show's end. A dropout where a processor stood still is not the demo's.
# LATE_SINK set: the default output is a sink that plays 70 to 90 ms after it takes, and says so
# (start_late_sink), rather than the null sink, whose delay is next to none. PulseAudio only.
# SERVER none: no sound server at all; the show runs silent after the failure line, and libasound
# says nothing. Usage: sound_server_test.sh SERVER BIN_DIR ARTIFACT_DIR SECONDS [figures-only]
# figures-only: the dropouts and the first sample's delay are printed, not held to; everything
# else still is, the sound's place included.
# Exits with 77 (skipped) where the server is not installed.
set -u
server=$1
bin_dir=$(cd "$2" && pwd)
mkdir -p "$3/sound-$server"
artifacts=$(cd "$3/sound-$server" && pwd)
seconds=$4
figures_only=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/xvfb_session.sh"
. "$here/sound_session.sh"
SINK_MONITOR=$bin_dir/sink-monitor

if [ "$server" != none ] && ! command -v "$server" >/dev/null; then
    echo "SKIP: $server is not installed"
    exit 77
fi
export NO_AT_BRIDGE=1
# the demo's own output to the server, or with SDL_DRIVER one of SDL's drivers
if [ -n "${SDL_DRIVER:-}" ]; then export SDL_AUDIODRIVER=$SDL_DRIVER; else unset SDL_AUDIODRIVER; fi
start_xvfb 640x360 || exit 1
start_sound "$server" || fail "no $server server"
if [ "$server" != none ]; then
    ffmpeg -nostdin -v error -i "$bin_dir/audio.mp3" -f s16le -ac 2 -ar 44100 "$SOUND_DIR/file.s16" ||
        fail "ffmpeg could not decode audio.mp3"
    if [ -n "${LATE_SINK:-}" ]; then
        { start_late_sink quarvel_late "$SOUND_DIR/sink.s16" && pactl set-default-sink quarvel_late; } ||
            fail "no sink with a delay"
    else
        start_recording "$SOUND_DIR/sink.s16" || fail "could not record the null sink"
    fi
fi
start_load

# OUTPUT_DELAYS_LIB: sdl_output_delays.c, preloaded into the demo alone to force the delay that
# QUARVEL_OUTPUT_DELAY names
PRELOAD=()
[ -n "${OUTPUT_DELAYS_LIB:-}" ] &&
    PRELOAD=(env LD_PRELOAD="$OUTPUT_DELAYS_LIB" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0")
start_show "$bin_dir" "$artifacts"
# where the system allows it, as it does root, the thread that feeds the output is real-time
if [ "$server" != none ] && { [ "$(id -u)" -eq 0 ] || [ "$(ulimit -r)" != 0 ]; }; then
    ps -L -o cls= -p "$APP_PID" | grep -qE '^ *(RR|FF)$' || fail "no real-time thread feeds the output"
fi

if [ "$seconds" = all ]; then
    wait_for_exit "$APP_PID" 120 || fail "the show did not end by itself"
    APP_PID=
else
    sleep "$seconds"
    end_show
fi
[ "$EXIT_STATUS" -eq 0 ] || fail "exit status $EXIT_STATUS"
grep -q "ALSA lib" "$artifacts/stderr" && fail "libasound wrote on stderr: $(grep -m1 "ALSA lib" "$artifacts/stderr")"

if [ "$server" = none ]; then
    [ "$(cat "$artifacts/stdout")" = "mp3 rendering failed :(" ] ||
        fail "without a server, standard output is '$(cat "$artifacts/stdout")'"
    echo "PASS: without a sound server, the failure line, a silent show, status 0 and nothing from libasound"
    exit 0
fi
[ "$(cat "$artifacts/stdout")" = "Song succesfully rendered!" ] ||
    fail "standard output is '$(cat "$artifacts/stdout")'"
compare_recording
echo "$server: $FIGURES" | tee "$artifacts/figures.txt"

[ "$MISSING" -eq 0 ] || fail "the first $MISSING frames of the file never reached the sink"
awk -v o="$LARGEST_MS" 'BEGIN { exit !(o <= 10) }' ||
    fail "the sound strayed $LARGEST_MS ms from its place"
if [ -z "$figures_only" ]; then
    [ "$DROPOUTS" -eq 0 ] || fail "$DROPOUTS dropouts"
    awk -v o="$FIRST_MS" 'BEGIN { exit !(o >= -10 && o <= 10) }' ||
        fail "the first sample was heard $FIRST_MS ms from the clock's origin, not within 10 ms"
fi
# the walk stops where the recording leaves the file for good; a whole show ends at 86 s, with
# the song still playing
expected=$seconds
[ "$seconds" = all ] && expected=85
awk -v c="$COMPARED" -v s="$expected" 'BEGIN { exit !(c >= s - 1) }' ||
    fail "the recording follows the file for only $COMPARED s of $expected"
echo "PASS"
