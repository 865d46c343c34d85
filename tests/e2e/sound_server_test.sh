#!/usr/bin/env bash
# The soundtrack through a real sound server, on a machine kept busy: a private server with a null
# sink (sound_session.sh), the demo (quarvel-clock-probe) in Xvfb at 640 x 360 for SECONDS of
# show, then Escape; or for the whole show with SECONDS=all. The sink's monitor is set against the
# file as ffmpeg decodes it. Passes with no dropout, no first sample missing, and the first sample
# heard within 10 ms of the clock's origin, so the picture trails the
# sound by 50 ms; for the whole show, the recording following the file to the show's end.
# SERVER none: no sound server at all; the show runs silent after the failure line, and libasound
# says nothing. Usage: sound_server_test.sh SERVER BIN_DIR ARTIFACT_DIR SECONDS [figures-only]
# figures-only: the dropouts and the delay are printed, not held to; everything else still is.
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
    start_recording "$SOUND_DIR/sink.s16" || fail "could not record the null sink"
fi
start_load

# OUTPUT_DELAYS_LIB: sdl_output_delays.c, preloaded into the demo alone to force the delay that
# QUARVEL_OUTPUT_DELAY names
preload=()
[ -n "${OUTPUT_DELAYS_LIB:-}" ] &&
    preload=(env LD_PRELOAD="$OUTPUT_DELAYS_LIB" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0")
(cd "$bin_dir" && exec "${preload[@]}" ./quarvel-clock-probe >"$artifacts/stdout" 2>"$artifacts/stderr") &
APP_PID=$!
dialog=$(wait_for_window "Tessmor selektor" 60) || fail "no launcher dialog; stderr: $(cat "$artifacts/stderr")"
# the screen's one size, the list's first item, fullscreen
xdotool windowfocus --sync "$dialog" 2>/dev/null
xdotool key --delay 100 Down Return
for _ in $(seq 1 600); do
    grep -q "^clock origin:" "$artifacts/stderr" && break
    kill -0 "$APP_PID" 2>/dev/null || fail "the demo ended before its clock started: $(cat "$artifacts/stderr")"
    sleep 0.1
done
origin=$(sed -n 's/^clock origin: \([0-9.]*\) ms$/\1/p' "$artifacts/stderr")
[ -n "$origin" ] || fail "the clock never started"
# where the system allows it, as it does root, the thread that feeds the output is real-time
if [ "$server" != none ] && { [ "$(id -u)" -eq 0 ] || [ "$(ulimit -r)" != 0 ]; }; then
    ps -L -o cls= -p "$APP_PID" | grep -qE '^ *(RR|FF)$' || fail "no real-time thread feeds the output"
fi

# SERVER_GOES_AFTER: the sound server is killed that many seconds into the show, which then goes
# on silently, frame after frame, and ends as ever on Escape
if [ -n "${SERVER_GOES_AFTER:-}" ]; then
    sleep "$SERVER_GOES_AFTER"
    kill -9 "$SOUND_SERVER_PID"
    sleep 0.5
    busy=$(awk '{ print $14 + $15 }' "/proc/$APP_PID/stat")
    sleep 1
    [ "$(awk '{ print $14 + $15 }' "/proc/$APP_PID/stat")" -gt "$busy" ] || fail "the show stopped with the server"
fi
if [ "$seconds" = all ]; then
    wait_for_exit "$APP_PID" 120 || fail "the show did not end by itself"
else
    sleep "$seconds"
    window=$(window_named Quarvel) || fail "no demo window"
    xdotool windowfocus --sync "$window" 2>/dev/null
    xdotool key Escape
    wait_for_exit "$APP_PID" 60 || fail "the demo did not end within 60 s of Escape"
fi
APP_PID=
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
if [ -n "${SERVER_GOES_AFTER:-}" ]; then
    echo "PASS: the show went on without its sound server and ended with status 0 on Escape"
    exit 0
fi
# the last samples leave the server a little after the stream is gone
sleep 0.3
stop_recording
cp "$SOUND_DIR/sink.s16" "$SOUND_DIR/sink.s16.time" "$artifacts/"
figures=$("$SINK_MONITOR" compare "$SOUND_DIR/file.s16" "$SOUND_DIR/sink.s16" "$origin") || fail "$figures"
echo "$server: $figures" | tee "$artifacts/figures.txt"

read -r dropouts missing offset <<<"$(sed -E 's/.* ([0-9]+) dropouts.* ([0-9]+) first frames missing.* heard ([-+][0-9.]+) ms.*/\1 \2 \3/' <<<"$figures")"
[ "$missing" -eq 0 ] || fail "the first $missing frames of the file never reached the sink"
if [ -z "$figures_only" ]; then
    [ "$dropouts" -eq 0 ] || fail "$dropouts dropouts"
    awk -v o="$offset" 'BEGIN { exit !(o >= -10 && o <= 10) }' ||
        fail "the first sample was heard $offset ms from the clock's origin, not within 10 ms"
fi
# the walk stops where the recording leaves the file for good: samples skipped, not delayed; a
# whole show ends at 86 s, with the song still playing
compared=$(sed -E 's/^compared ([0-9.]+) s.*/\1/' <<<"$figures")
expected=$seconds
[ "$seconds" = all ] && expected=85
awk -v c="$compared" -v s="$expected" 'BEGIN { exit !(c >= s - 1) }' ||
    fail "the recording follows the file for only $compared s of $expected"
echo "PASS"
