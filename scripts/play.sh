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
echo "play.sh: no display to open (DISPLAY and WAYLAND_DISPLAY unset, or not answering);" \
     "rendering the show with its sound to $video instead" >&2
cmake --build --preset release -j"$(nproc)" --target quarvel-capture
cd build/release/bin
./quarvel-capture --size 640x360 --fps 30 "$video"
echo "play.sh: the show is in $video"
