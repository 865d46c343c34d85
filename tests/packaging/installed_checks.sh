#!/usr/bin/env bash
# What a viewer does with an installed Quarvel, in a folder that holds no audio.mp3: renders a
# short clip, which must have its sound, and starts the demo as its desktop entry does, in a
# private Xvfb, through the dialog to the success line and out on Escape with status 0. Neither
# may write anything to standard error: a missing GL driver, font or theme shows there first.
# Usage: installed_checks.sh DESKTOP_FILE   (with the installed programs on PATH)
set -u
desktop=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../e2e/xvfb_session.sh"

private_dir work
cd "$work"

version=$(quarvel-capture --version) || fail "quarvel-capture --version failed"
[[ $version =~ ^quarvel-capture\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version printed '$version'"
quarvel-capture --size 160x90 --fps 10 --from 20 --to 21 clip.mp4 2>capture.txt ||
    fail "the capture failed: $(cat capture.txt)"
streams=$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 clip.mp4 | sort | tr '\n' ' ')
[ "$streams" = "audio video " ] || fail "the clip holds '$streams', not audio and video: $(cat capture.txt)"
grep -v '^quarvel-capture: .* frames of .* rendered in ' capture.txt >capture_other.txt
[ -s capture_other.txt ] && fail "the capture wrote to standard error: $(cat capture_other.txt)"

command=$(sed -n 's/^Exec=//p' "$desktop")
[ -n "$command" ] || fail "$desktop has no Exec line"
# the dialog preselects 1920 x 1080 when the display offers it, and Enter takes it
start_xvfb 1920x1080 || exit 1
# no sound server here: SDL's dummy output still takes the soundtrack
SDL_AUDIODRIVER=dummy NO_AT_BRIDGE=1 sh -c "exec $command" >demo_out.txt 2>demo_err.txt &
APP_PID=$!
dialog=$(wait_for_window "Tessmor selektor" 60) || fail "'$command' opened no dialog: $(cat demo_err.txt)"
xdotool windowfocus --sync "$dialog" 2>/dev/null
xdotool key Return
window=$(wait_for_window Quarvel 60) || fail "no demo window after Enter: $(cat demo_err.txt)"
xdotool windowfocus --sync "$window" 2>/dev/null
xdotool key Escape
wait_for_exit "$APP_PID" 60 || fail "the demo did not end within 60 s of Escape"
APP_PID=
[ "$EXIT_STATUS" -eq 0 ] || fail "exit status $EXIT_STATUS after Escape: $(cat demo_err.txt)"
[ "$(cat demo_out.txt)" = "Song succesfully rendered!" ] ||
    fail "standard output is '$(cat demo_out.txt)', not the success line: $(cat demo_err.txt)"
[ -s demo_err.txt ] && fail "the demo wrote to standard error: $(cat demo_err.txt)"
echo "PASS: $version made a clip with sound; '$command' played with the success line and ended on Escape with 0"
