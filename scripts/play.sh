#!/usr/bin/env bash
# Installs what is missing, builds the release, and plays the demo from its build folder
# (where audio.mp3 is).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)" --target quarvel

cd build/release/bin
exec ./quarvel
