#!/usr/bin/env bash
# The Windows demo under Wine, in a 1920x1080 Xvfb on Mesa's software rasteriser, from its
# launcher dialog on. Modes:
#   exit        Escape in the dialog ends the program with status 0 before any window opens
#   soundtrack  with audio.mp3: Return starts the show, the success line is written, frames are
#               drawn, Escape ends it with status 0
#   silent      without audio.mp3: the failure line is written and the show runs its full length
#               by itself, then ends with status 0
# Usage: wine_demo_test.sh MODE PREFIX QUARVEL_EXE PROBE_EXE ARTIFACT_DIR [AUDIO_MP3]
set -u
mode=$1
prefix=$2
exe=$3
probe=$4
artifacts=$5
audio=${6:-}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/xvfb_session.sh"
. "$here/../wine/wine_env.sh"

screen=1920x1080
run_dir="$artifacts/run"
rm -rf "$artifacts"
mkdir -p "$run_dir"
cp "$exe" "$run_dir/quarvel.exe"
if [ "$mode" = soundtrack ]; then
    [ -f "$audio" ] || fail "no audio.mp3 from a host build at '$audio'"
    cp "$audio" "$run_dir/audio.mp3"
fi

use_wine_prefix "$prefix"
start_xvfb "$screen" || exit 1
on_exit stop_wine

cd "$run_dir"
wine quarvel.exe >"$artifacts/stdout.txt" 2>"$artifacts/stderr.txt" &
APP_PID=$!

# --- the launcher dialog, from template 101 ---
dialog=$(wait_for_window "Tessmor selektor" 60) || fail "no launcher dialog appeared"
sleep 1  # let it paint before the picture is taken
import -window root "$artifacts/dialog.png" || fail "no screenshot of the dialog"
wine "$probe" >"$artifacts/dialog.txt" 2>&1 || fail "the probe could not read the dialog: $(cat "$artifacts/dialog.txt")"
# Xvfb has one mode, its screen size: that is the one entry, preselected as the default size,
# and Fullscreen starts checked
expected="caption Tessmor selektor
item ${screen/x/ x }
selected 0
fullscreen 1"
[ "$(tr -d '\r' <"$artifacts/dialog.txt")" = "$expected" ] ||
    fail "the dialog shows:
$(cat "$artifacts/dialog.txt")
instead of:
$expected"

xdotool windowfocus --sync "$dialog" 2>/dev/null
if [ "$mode" = exit ]; then
    xdotool key Escape
    wait_for_exit "$APP_PID" 60 || fail "the program did not end within 60 s of Escape in the dialog"
    APP_PID=
    [ "$EXIT_STATUS" -eq 0 ] || fail "exit status $EXIT_STATUS after Exit in the dialog"
    [ ! -s "$artifacts/stdout.txt" ] || fail "stdout after Exit in the dialog: $(cat "$artifacts/stdout.txt")"
    echo "PASS: dialog with its caption and the screen's mode; Escape there ends with status 0"
    exit 0
fi
xdotool key Return

# --- the show ---
if [ "$mode" = soundtrack ]; then line="Song succesfully rendered!"; else line="mp3 rendering failed :("; fi
for _ in $(seq 1 1200); do
    [ -s "$artifacts/stdout.txt" ] && break
    kill -0 "$APP_PID" 2>/dev/null || break
    sleep 0.1
done
started=$(date +%s)
[ "$(tr -d '\r' <"$artifacts/stdout.txt")" = "$line" ] ||
    fail "stdout is '$(cat "$artifacts/stdout.txt")', not the line '$line'; stderr: $(tail -n 5 "$artifacts/stderr.txt")"

window=$(xdotool search --onlyvisible --classname '^quarvel\.exe$' 2>/dev/null | head -n 1)
[ -n "$window" ] || fail "no demo window"
geometry=$(xwininfo -id "$window" | awk '/Width:/ {w=$2} /Height:/ {h=$2} /Absolute upper-left X:/ {x=$4} /Absolute upper-left Y:/ {y=$4} END {print w "x" h "+" x "+" y}')
[ "$geometry" = "${screen}+0+0" ] || fail "window geometry is $geometry, not ${screen}+0+0"

# the software rasteriser takes about a second a frame at this size
wait_for_picture "$artifacts/show.png" "$APP_PID"
colours=$COLOURS

if [ "$mode" = soundtrack ]; then
    xdotool key Escape
    wait_for_exit "$APP_PID" 60 || fail "the demo did not end within 60 s of Escape"
    APP_PID=
    [ "$EXIT_STATUS" -eq 0 ] || fail "exit status $EXIT_STATUS after Escape"
    echo "PASS: dialog, '$line', window $geometry with $colours colours, status 0 after Escape"
    exit 0
fi

# silent: nobody presses anything; the show ends by itself after 86 s of demo clock
wait_for_exit "$APP_PID" 300 || fail "the show did not end within 300 s"
APP_PID=
lasted=$(($(date +%s) - started))
[ "$EXIT_STATUS" -eq 0 ] || fail "exit status $EXIT_STATUS at the end of the show"
# the status line comes before the clock starts, so the show cannot end sooner than this
[ "$lasted" -ge 85 ] || fail "the show ended ${lasted} s after its status line, before 86 s of demo clock"
[ "$(tr -d '\r' <"$artifacts/stdout.txt")" = "$line" ] || fail "stdout grew: $(cat "$artifacts/stdout.txt")"
echo "PASS: dialog, '$line', window $geometry with $colours colours, full run of ${lasted} s, status 0"
