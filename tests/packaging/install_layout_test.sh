#!/usr/bin/env bash
# `cmake --install` of a build, into a private folder as a package would lay it out: every file a
# package ships is there, the man pages render without a warning, the desktop entry and the
# AppStream data pass their validators, and the installed programs work from any folder
# (installed_checks.sh).
# Usage: install_layout_test.sh BUILD_DIR
set -u
build=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../e2e/harness.sh"

private_dir root
DESTDIR=$root cmake --install "$build" --prefix /usr >"$root/install.txt" || fail "cmake --install failed"
usr=$root/usr
expected="bin/quarvel bin/quarvel-capture libexec/quarvel/quarvel share/quarvel/audio.mp3
share/applications/org.quarvel.Quarvel.desktop share/metainfo/org.quarvel.Quarvel.metainfo.xml
share/icons/hicolor/scalable/apps/org.quarvel.Quarvel.svg share/man/man6/quarvel.6.gz
share/man/man1/quarvel-capture.1.gz share/doc/quarvel/copyright share/doc/quarvel/changelog.gz"
for file in $expected; do
    [ -f "$usr/$file" ] || fail "the install has no $file"
done
for program in bin/quarvel bin/quarvel-capture libexec/quarvel/quarvel; do
    [ -x "$usr/$program" ] || fail "$program is not executable"
done

for page in man6/quarvel.6.gz man1/quarvel-capture.1.gz; do
    text=$(MANWIDTH=80 man -l --warnings "$usr/share/man/$page" 2>"$root/man.txt") || fail "man -l $page failed"
    [ -s "$root/man.txt" ] && fail "$page: $(cat "$root/man.txt")"
    grep -q '^NAME' <<<"$text" && grep -q '^SYNOPSIS' <<<"$text" || fail "$page has no NAME or SYNOPSIS"
done
# the capture's page is its --help: every option is there, and nothing of the build folder
for option in --size --fps --from --to --clock --quality --audio --version; do
    grep -q -- "$option" <<<"$(MANWIDTH=80 man -l "$usr/share/man/man1/quarvel-capture.1.gz")" ||
        fail "quarvel-capture(1) does not give $option"
done
zcat "$usr/share/man/man1/quarvel-capture.1.gz" | grep -q "Soundtrack here" && fail "quarvel-capture(1) names the build's soundtrack"

desktop-file-validate "$usr/share/applications/org.quarvel.Quarvel.desktop" || fail "the desktop entry is not valid"
appstreamcli validate --no-net --pedantic "$usr/share/metainfo/org.quarvel.Quarvel.metainfo.xml" >"$root/as.txt" 2>&1 ||
    fail "the AppStream data is not valid: $(cat "$root/as.txt")"

PATH=$usr/bin:$PATH "$here/installed_checks.sh" "$usr/share/applications/org.quarvel.Quarvel.desktop"
