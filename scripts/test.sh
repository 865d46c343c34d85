#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a release build, and a build
# with AddressSanitizer and UndefinedBehaviorSanitizer.
# Usage: scripts/test.sh [--no-sanitize]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh

presets=(release sanitize)
[ "${1:-}" = "--no-sanitize" ] && presets=(release)

jobs=$(nproc)
for preset in "${presets[@]}"; do
    echo "== $preset build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j"$jobs"
    echo "== $preset tests"
    ctest --preset "$preset" -j"$jobs"
done
