#!/usr/bin/env bash
# Builds the Windows zip, build/windows/quarvel-windows.zip: quarvel.exe cross-built with
# mingw-w64, beside the audio.mp3 that a host build synthesises.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh --windows
jobs=$(nproc)
cmake --preset release >/dev/null
cmake --build --preset release -j"$jobs" --target quarvel-audio
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs" --target quarvel-zip
echo "built $root/build/windows/quarvel-windows.zip"
