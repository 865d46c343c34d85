#!/usr/bin/env bash
# Makes the Wine prefix the Windows tests share, or brings an existing one up to date.
# Usage: wine_prefix.sh PREFIX
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../e2e/xvfb_session.sh"
. "$here/wine_env.sh"

mkdir -p "$1"
use_wine_prefix "$1"
start_xvfb 1280x720 || exit 1
wineboot --init
status=$?
stop_wine
[ $status -eq 0 ] && [ -f "$WINEPREFIX/system.reg" ] || fail "wineboot could not make the prefix $WINEPREFIX"
echo "prefix ready: $WINEPREFIX"
