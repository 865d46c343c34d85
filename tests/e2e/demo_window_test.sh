#!/usr/bin/env bash
# The real demo in a real X window (Xvfb, Mesa's software rasteriser): it opens its window at
# the chosen size, draws frames, ends on Escape with status 0, and has played its soundtrack.
# Usage: demo_window_test.sh BIN_DIR ARTIFACT_DIR
set -u
bin_dir=$1
artifacts=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/xvfb_session.sh"
mkdir -p "$artifacts"

start_xvfb 1920x1080 || exit 1
export SDL_AUDIODRIVER=dummy
export NO_AT_BRIDGE=1

cd "$bin_dir"
./quarvel >"$artifacts/demo_stdout.txt" 2>"$artifacts/demo_stderr.txt" &
APP_PID=$!

# the launcher dialog comes first; Return takes the preselected 1920 x 1080
dialog=$(wait_for_window "Tessmor selektor" 60) || fail "no launcher dialog appeared; stderr: $(cat "$artifacts/demo_stderr.txt")"
xdotool windowfocus --sync "$dialog" 2>/dev/null
xdotool key Return

window=$(wait_for_window Quarvel 30) || fail "no demo window appeared"
geometry=$(xwininfo -id "$window" | awk '/Width:/ {w=$2} /Height:/ {h=$2} /Absolute upper-left X:/ {x=$4} /Absolute upper-left Y:/ {y=$4} END {print w "x" h "+" x "+" y}')
[ "$geometry" = "1920x1080+0+0" ] || fail "window geometry is $geometry, not 1920x1080+0+0"

# the software rasteriser takes about a second a frame at this size
wait_for_picture "$artifacts/demo_window.png" "$APP_PID"
colours=$COLOURS

xdotool windowfocus --sync "$window" 2>/dev/null
xdotool key Escape
wait_for_exit "$APP_PID" 60 || fail "the demo did not end within 60 s of Escape"
APP_PID=
[ "$EXIT_STATUS" -eq 0 ] || fail "exit status $EXIT_STATUS after Escape"
# the soundtrack the build generated is one the player accepts; without it the run is silent
expected="mp3 rendering failed :("
[ -f audio.mp3 ] && expected="Song succesfully rendered!"
[ "$(cat "$artifacts/demo_stdout.txt")" = "$expected" ] ||
    fail "standard output is '$(cat "$artifacts/demo_stdout.txt")', not the one line '$expected'"
echo "PASS: $expected; window ${geometry}, ${colours} colours on screen, status 0 after Escape"
