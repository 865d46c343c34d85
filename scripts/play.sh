#!/usr/bin/env bash
# Installs what is missing, builds the release, and plays the demo from its build folder
# (where audio.mp3 is). On a machine without a display it renders the show, with its sound, to a
# video file instead and says where the file is.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh
cmake --preset release >/dev/null

# a Wayland socket that exists, or an X display that answers
display_available() {
    if [ -n "${WAYLAND_DISPLAY:-}" ]; then
        local socket=$WAYLAND_DISPLAY
        [ "${socket#/}" != "$socket" ] || socket="${XDG_RUNTIME_DIR:-/run/user/$(id -u)}/$socket"
        [ -S "$socket" ] && return 0
    fi
    [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1
}

if display_available; then
    cmake --build --preset release -j"$(nproc)" --target quarvel
    cd build/release/bin
    exec ./quarvel
fi

# 640x360 at 30 frames per second takes a few minutes on two cores with the software rasteriser
video=$root/build/release/quarvel-show.mp4
size=640x360
fps=30
echo "play.sh: no display to open (DISPLAY and WAYLAND_DISPLAY unset, or not answering);" \
     "rendering the show with its sound to $video instead" >&2
cmake --build --preset release -j"$(nproc)" --target quarvel-capture
cd build/release/bin

# this machine's speed, and the file's bytes a second, from the show's first second in the same
# encoding
trial=$(mktemp -d)
trap 'rm -rf "$trial"' EXIT
./quarvel-capture --size $size --fps $fps --to 1 --quality share "$trial/trial.mp4" 2>"$trial/summary.txt" || {
    cat "$trial/summary.txt" >&2
    exit 1
}
speed=$(sed -n 's/.*(\([0-9.]*\) fps).*/\1/p' "$trial/summary.txt")
trial_bytes=$(stat -c %s "$trial/trial.mp4")
estimate() {  # estimate WIDTH HEIGHT FPS: the time at the trial's pixel rate
    # the show's frame count at FPS, as the capture plans it: its last frame, drawn tiny, says
    local frames
    frames=$(./quarvel-capture --size 16x16 --fps "$3" --from 86 "$trial/last.png" 2>&1 |
             sed -n 's/^quarvel-capture: \([0-9]*\) frames .*/\1/p')
    awk -v w="$1" -v h="$2" -v frames="$frames" -v speed="$speed" 'BEGIN {
        seconds = int(frames / speed * (w * h) / (640 * 360) + 0.5)
        printf "%d frames, about %d min %02d s", frames, seconds / 60, seconds % 60 }'
}
# the first second holds a whole picture more than the rest, so this errs on the large side
megabytes=$(awk -v b="$trial_bytes" 'BEGIN { printf "%.0f", b * 86 / 1e6 }')
echo "play.sh: $size at $fps fps, --quality share: $(estimate 640 360 $fps) at the $speed fps measured here," \
     "a file of about $megabytes MB" >&2
echo "play.sh: the full 1920x1080 at 60 fps ($(estimate 1920 1080 60)) renders with" >&2
echo "  (cd '$root/build/release/bin' && ./quarvel-capture --size 1920x1080 --fps 60 --quality share" \
     "'$root/build/release/quarvel-show-1080p60.mp4')" >&2
./quarvel-capture --size $size --fps $fps --quality share "$video"
echo "play.sh: the show is in $video"
