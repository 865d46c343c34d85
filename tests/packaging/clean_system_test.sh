#!/usr/bin/env bash
# The release's .deb and tarball on systems that hold only what they need: Debian 12 roots made
# by mmdebstrap (minbase) from this machine's apt sources, thrown away after. One root gets the
# .deb through apt, which resolves its dependencies; the other the tarball, unpacked, with only
# the packages its README names. In each, installed_checks.sh renders a clip with sound from a
# folder with no audio.mp3 and plays the demo as its desktop entry starts it. lintian checks the
# .deb first.
# Usage: clean_system_test.sh DIST_DIR   (as root, with network to the apt sources)
set -euo pipefail
dist=$(cd "$1" && pwd)
tests=$(cd "$(dirname "$0")/.." && pwd)
. "$tests/e2e/harness.sh"

deb=$(ls "$dist"/quarvel-*-linux-*.deb)
tarball=$(ls "$dist"/quarvel-*-linux-*.tar.gz)
folder=$(basename "$tarball" .tar.gz)

echo "== lintian $(basename "$deb")"
lintian --fail-on error --pedantic --display-info "$deb" 2>&1 | grep -v 'root privileges' || true
lintian --fail-on error "$deb" >/dev/null 2>&1 || fail "lintian reports errors"

sources=()
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -s "$file" ] && sources+=("$file")
done
[ ${#sources[@]} -gt 0 ] || fail "this machine has no apt sources"

# The test tools come last and without their recommends, so that they do not bring in what the
# programs need. The checks run in a network namespace of their own: an X display of the root
# must not meet one of the machine's through the shared abstract socket names.
tools='chroot "$1" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends xvfb x11-utils xdotool >/dev/null'
checks_in=(--customize-hook='mkdir -p "$1/opt/checks/e2e" "$1/opt/checks/packaging"'
           --customize-hook="sync-in $tests/packaging /opt/checks/packaging"
           --customize-hook="copy-in $tests/e2e/xvfb_session.sh $tests/e2e/harness.sh /opt/checks/e2e")
run_checks() {  # PATH DESKTOP_FILE: the hook that runs installed_checks.sh in the root
    echo "unshare --net chroot \"\$1\" env -i HOME=/root PATH=$1 /opt/checks/packaging/installed_checks.sh $2"
}
bootstrap() {  # NAME HOOK...: a fresh root, the hooks in it, then nothing kept
    local name=$1
    shift
    local started=$SECONDS
    mmdebstrap --quiet --variant=minbase --mode=root "$@" bookworm /dev/null "${sources[@]}" ||
        fail "the $name root's checks failed"
    echo "   the $name root: $((SECONDS - started)) s"
}

# apt as a viewer's system has it, with recommends: ffmpeg comes so
echo "== $(basename "$deb") in a clean root, through apt"
bootstrap deb --customize-hook="copy-in $deb /tmp" \
    --customize-hook="chroot \"\$1\" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o APT::Install-Recommends=true /tmp/$(basename "$deb") >/dev/null" \
    "${checks_in[@]}" --customize-hook="$tools" \
    --customize-hook="$(run_checks /usr/bin:/bin /usr/share/applications/org.quarvel.Quarvel.desktop)"

packages=$(tar -xzOf "$tarball" "$folder/README" | sed -n 's/^    apt-get install //p')
[ -n "$packages" ] || fail "the tarball's README names no packages"
echo "== $(basename "$tarball") in a clean root, with: $packages"
bootstrap tarball --customize-hook="copy-in $tarball /opt" \
    --customize-hook="chroot \"\$1\" tar -C /opt -xzf /opt/$(basename "$tarball")" \
    --customize-hook="chroot \"\$1\" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $packages >/dev/null" \
    "${checks_in[@]}" --customize-hook="$tools" \
    --customize-hook="$(run_checks /opt/$folder/bin:/usr/bin:/bin /opt/$folder/share/applications/org.quarvel.Quarvel.desktop)"
echo "PASS: lintian shows no error; the .deb and the tarball each made a clip with sound and played the demo in a clean root"
