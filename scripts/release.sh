#!/usr/bin/env bash
# Writes the release into dist/, every file named with the project's version (CMakeLists.txt):
#   quarvel-V-linux-ARCH.deb      the Debian package (CPack; its dependencies from dpkg-shlibdeps)
#   quarvel-V-linux-ARCH.tar.gz   the same install as a folder to unpack anywhere, with a README
#   quarvel-V-windows-x64.zip     quarvel.exe and audio.mp3
#   quarvel-V-web.zip             the folder a static web server hosts
#   SHA256SUMS
# Usage: scripts/release.sh [--no-windows] [--no-web]   (those leave the zips out)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

windows=1
web=1
for arg in "$@"; do
    case $arg in
        --no-windows) windows=0 ;;
        --no-web) web=0 ;;
        *) echo "usage: $0 [--no-windows] [--no-web]" >&2; exit 2 ;;
    esac
done

deps=()
[ $windows -eq 1 ] && deps+=(--windows)
[ $web -eq 1 ] && deps+=(--web)
scripts/install-deps.sh "${deps[@]}"
jobs=$(nproc)
cmake --preset release >/dev/null
cmake --build --preset release -j"$jobs"
build=$root/build/release

version=$("$build/bin/quarvel-capture" --version | cut -d' ' -f2)
arch=$(dpkg --print-architecture)
name=quarvel-$version
dist=$root/dist
rm -rf "$dist"
mkdir -p "$dist"
# the files' times inside the archives: the release's date, so a rebuild gives the same archives
released=$(sed -n 's/^set(QUARVEL_RELEASE_DATE \([0-9-]*\)).*/\1/p' CMakeLists.txt)
epoch=$(date -u -d "$released" +%s)

echo "== $name-linux-$arch.deb"
cpack --config "$build/CPackConfig.cmake" -B "$build/package" >/dev/null
cp "$build/package/$name-linux-$arch.deb" "$dist/"

echo "== $name-linux-$arch.tar.gz"
stage=$build/tarball
rm -rf "$stage"
cmake --install "$build" --prefix "$stage/$name-linux-$arch" --strip >/dev/null
cp "$build/packaging/README" "$stage/$name-linux-$arch/README"
tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$epoch" -cf - "$name-linux-$arch" |
    gzip -9n >"$dist/$name-linux-$arch.tar.gz"

if [ $windows -eq 1 ]; then
    echo "== $name-windows-x64.zip"
    scripts/build-windows.sh >/dev/null
    cp build/windows/quarvel-windows.zip "$dist/$name-windows-x64.zip"
fi
if [ $web -eq 1 ]; then
    echo "== $name-web.zip"
    scripts/build-web.sh >/dev/null
    rm -rf "$build/web-stage" && mkdir -p "$build/web-stage"
    cp -r build/web "$build/web-stage/$name-web"
    (cd "$build/web-stage" && find "$name-web" -type f | LC_ALL=C sort |
        xargs cmake -E tar cf "$dist/$name-web.zip" --format=zip --mtime="$released 00:00:00 UTC")
fi

(cd "$dist" && sha256sum -- *.deb *.tar.gz $(ls *.zip 2>/dev/null) >SHA256SUMS)
echo "wrote $dist:"
(cd "$dist" && ls -l --time-style=+ | tail -n +2)
