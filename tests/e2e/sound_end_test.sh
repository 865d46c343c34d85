#!/usr/bin/env bash
# The end of a file through a real sound server: a one-second sweep played from Run on, and the
# output released 4 ms before its last sample is due, when the output has taken it but the sink
# has not played it. PulseAudio's output keeps 70 ms ahead; PipeWire's fills each cycle as it
# starts, and the sweep's last sample lies 7 ms into its cycle. Passes when the sink played all of
# the file, its last sample included.
# Usage: sound_end_test.sh SERVER PROBE FILE.mp3 FILE.s16 SINK_MONITOR
set -u
server=$1 probe=$2 mp3=$3 pcm=$4
here=$(cd "$(dirname "$0")" && pwd)
. "$here/sound_session.sh"
SINK_MONITOR=$5

if ! command -v "$server" >/dev/null; then
    echo "SKIP: $server is not installed"
    exit 77
fi
unset SDL_AUDIODRIVER
start_sound "$server" || fail "no $server server"
start_recording "$SOUND_DIR/sink.s16" || fail "could not record the null sink"
seconds=$(awk -v b="$(stat -c %s "$pcm")" 'BEGIN { print b / 4 / 44100 - 0.004 }')
"$probe" "$mp3" "$seconds" >/dev/null || fail "the probe failed"
sleep 0.3
stop_recording
figures=$("$SINK_MONITOR" compare "$pcm" "$SOUND_DIR/sink.s16" 0) || fail "$figures"
echo "$server: $figures"
grep -q "its end was heard" <<<"$figures" || fail "the end of the file never reached the sink"
grep -q " 0 dropouts.* 0 first frames missing" <<<"$figures" || fail "not all of the file reached the sink"
echo "PASS"
