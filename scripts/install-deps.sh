#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need; does nothing when all are present.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libgtest-dev googletest
  libsdl2-dev libsdl2-mixer-dev libgtk-3-dev libx11-dev
  libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri
  libmp3lame-dev ffmpeg zlib1g-dev
  xvfb xauth xdotool x11-utils imagemagick
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}" >&2
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
