#!/usr/bin/env bash
# Builds the Windows zip, build/windows/quarvel-windows.zip: quarvel.exe cross-built with
# mingw-w64, beside the audio.mp3 that a host build synthesises.
. "$(dirname "$0")/host_build.sh"
host_build --windows quarvel-audio
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs" --target quarvel-zip
echo "built $root/build/windows/quarvel-windows.zip"
