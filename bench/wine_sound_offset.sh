#!/usr/bin/env bash
# The Windows demo's sound under Wine, through Wine's PulseAudio driver into a private PulseAudio
# with a null sink (tests/e2e/sound_session.sh), both cores busy: prints, for each of RUNS starts,
# when the file's first frame reached the sink, counted from the status line (which the demo
# writes just before it runs the graph), and the dropouts over SECONDS of show. A benchmark: it
# reports, it does not pass or fail.
# Usage: bench/wine_sound_offset.sh [QUARVEL_EXE] [AUDIO_MP3] [RUNS] [SECONDS]
#        (build/windows/bin/quarvel.exe, build/release/bin/audio.mp3, 3, 10)
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
exe=$(realpath "${1:-$root/build/windows/bin/quarvel.exe}")
audio=$(realpath "${2:-$root/build/release/bin/audio.mp3}")
runs=${3:-3}
seconds=${4:-10}
SINK_MONITOR=$(dirname "$audio")/sink-monitor
. "$root/tests/e2e/xvfb_session.sh"
. "$root/tests/e2e/sound_session.sh"
. "$root/tests/wine/wine_env.sh"

prefix=${QUARVEL_WINE_PREFIX:-$root/build/windows/wine-prefix}
# a screen size of the dialog's list, which comes preselected
start_xvfb 1920x1080 || exit 1
start_sound pulseaudio || fail "no pulseaudio server"
use_wine_prefix "$prefix"
export WINEDLLOVERRIDES="mscoree,mshtml="  # Wine's PulseAudio driver this time
run_dir=$SOUND_DIR/run
mkdir -p "$run_dir"
cp "$exe" "$run_dir/quarvel.exe"
cp "$audio" "$run_dir/audio.mp3"
ffmpeg -nostdin -v error -i "$audio" -f s16le -ac 2 -ar 44100 "$SOUND_DIR/file.s16" || fail "ffmpeg cannot decode"
start_load
for i in $(seq 1 "$runs"); do
    start_recording "$SOUND_DIR/sink.s16" || fail "could not record the null sink"
    # each line of the demo's standard output with the CLOCK_MONOTONIC ms it came at
    (cd "$run_dir" && wine quarvel.exe 2>/dev/null |
        python3 -c 'import sys, time
for line in sys.stdin: print("%.3f %s" % (time.monotonic() * 1e3, line.strip()), flush=True)' \
        >"$SOUND_DIR/stdout") &
    dialog=$(wait_for_window "Tessmor selektor" 120) || fail "no launcher dialog"
    xdotool windowfocus --sync "$dialog" 2>/dev/null
    xdotool key Return
    for _ in $(seq 1 600); do
        [ -s "$SOUND_DIR/stdout" ] && break
        sleep 0.1
    done
    sleep "$seconds"
    window=$(xdotool search --onlyvisible --classname '^quarvel\.exe$' 2>/dev/null | head -n 1)
    [ -n "$window" ] && xdotool windowfocus --sync "$window" 2>/dev/null
    xdotool key Escape
    stop_wine
    wait $! 2>/dev/null
    sleep 0.3
    stop_recording
    read -r statusAt line <"$SOUND_DIR/stdout"
    echo "run $i: '$line'; from the status line: $("$SINK_MONITOR" compare "$SOUND_DIR/file.s16" "$SOUND_DIR/sink.s16" "$statusAt")"
done
