#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a release build, and a build
# with AddressSanitizer and UndefinedBehaviorSanitizer; then runs the fuzz targets (libFuzzer) for
# a fixed number of inputs; then cross-builds the Windows demo and its tests and runs them under
# Wine (the Windows end-to-end tests take audio.mp3 from the release build);
# then builds the browser version and runs its tests in headless Chromium, Firefox and WebKit
# (against the release build's capture); then writes the release (scripts/release.sh) and tries the
# Debian package and the tarball in clean Debian roots. The web and package stages report their own times.
# Usage: scripts/test.sh [--no-sanitize] [--no-windows] [--no-web] [--no-package]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

sanitize=1
windows=1
web=1
package=1
for arg in "$@"; do
    case $arg in
        --no-sanitize) sanitize=0 ;;
        --no-windows) windows=0 ;;
        --no-web) web=0 ;;
        --no-package) package=0 ;;
        *) echo "usage: $0 [--no-sanitize] [--no-windows] [--no-web] [--no-package]" >&2; exit 2 ;;
    esac
done

deps=()
[ $windows -eq 1 ] && deps+=(--windows)
[ $web -eq 1 ] && deps+=(--web)
[ $package -eq 1 ] && deps+=(--package)
scripts/install-deps.sh "${deps[@]}"

presets=(release)
[ $sanitize -eq 1 ] && presets+=(sanitize)

jobs=$(nproc)
for preset in "${presets[@]}"; do
    echo "== $preset build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j"$jobs"
    echo "== $preset tests"
    ctest --preset "$preset" -j"$jobs"
done

echo "== fuzz targets, a fixed number of inputs each"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"
ctest --preset fuzz

if [ $windows -eq 1 ]; then
    echo "== windows cross build"
    cmake --preset windows >/dev/null
    cmake --build --preset windows -j"$jobs"
    echo "== windows tests, under Wine"
    ctest --preset windows
fi

if [ $web -eq 1 ]; then
    echo "== web build and browser tests"
    started=$SECONDS
    scripts/build-web.sh
    ctest --preset web
    echo "== web stage: $((SECONDS - started)) s"
fi

if [ $package -eq 1 ]; then
    echo "== release files, and the Linux packages on clean Debian roots"
    started=$SECONDS
    release=()
    [ $windows -eq 1 ] || release+=(--no-windows)
    [ $web -eq 1 ] || release+=(--no-web)
    scripts/release.sh "${release[@]}"
    (cd dist && sha256sum --check --quiet SHA256SUMS)
    tests/packaging/clean_system_test.sh dist
    echo "== package stage: $((SECONDS - started)) s"
fi
