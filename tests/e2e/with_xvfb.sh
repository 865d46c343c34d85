#!/usr/bin/env bash
# Runs a command inside a private Xvfb of the given size: with_xvfb.sh WIDTHxHEIGHT COMMAND...
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/xvfb_session.sh"
size=$1
shift
start_xvfb "$size" || exit 1
"$@"
