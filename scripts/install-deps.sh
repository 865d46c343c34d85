#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need (the sound tests run their
# own PulseAudio and PipeWire servers); does nothing when all are present.
# Usage: scripts/install-deps.sh [--windows] [--web] [--package]
#   --windows  also what the Windows build needs: the mingw-w64 cross compiler, and Wine with
#              Mesa, the X libraries its display driver uses, its fonts and the GStreamer plugins
#              through which it plays MP3, to run the Windows tests
#   --web      also what the browser build needs: emscripten (with Node for its tools and the
#              browser tests, and npm, which installs their driver) and the two browsers the
#              tests run headless, Chromium and Firefox ESR (which takes its GL from an Xvfb)
#   --package  also what trying the release packages needs: mmdebstrap for the clean Debian
#              roots, lintian
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libgtest-dev googletest
  libsdl2-dev libmpg123-dev libasound2-dev libgtk-3-dev libx11-dev
  libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri
  libmp3lame-dev ffmpeg libpng-dev
  xvfb xauth xdotool x11-utils x11-xserver-utils imagemagick
  xserver-xorg-core xserver-xorg-video-dummy openbox weston
  glslang-tools
  help2man man-db desktop-file-utils appstream
  clang libclang-rt-14-dev
  pulseaudio pulseaudio-utils pipewire pipewire-pulse pipewire-bin wireplumber dbus-daemon libpulse-dev libpipewire-0.3-dev
)
windows=0
web=0
package=0
for arg in "$@"; do
  case $arg in
    --windows) windows=1 ;;
    --web) web=1 ;;
    --package) package=1 ;;
    *) echo "usage: $0 [--windows] [--web] [--package]" >&2; exit 2 ;;
  esac
done
if [ $package -eq 1 ]; then
  packages+=(mmdebstrap lintian)
fi
if [ $web -eq 1 ]; then
  packages+=(emscripten nodejs chromium firefox-esr)
  # WebKit's MiniBrowser and its WebDriver; it decodes the MP3 through GStreamer
  packages+=(webkit2gtk-driver gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav)
  # a Node from elsewhere brings its own npm, which Debian's npm would conflict with
  command -v npm >/dev/null || packages+=(npm)
fi
if [ $windows -eq 1 ]; then
  packages+=(
    g++-mingw-w64-x86-64
    wine wine64 fonts-wine
    libgl1 libxrandr2 libxrender1 libxcursor1 libxi6 libxinerama1 libxcomposite1 libxfixes3 libxxf86vm1
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly gstreamer1.0-libav
  )
fi

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
