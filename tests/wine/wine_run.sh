#!/usr/bin/env bash
# Runs a Windows program under Wine in the shared prefix, inside a private Xvfb (1280x720), and
# ends the prefix's Wine session afterwards. Exits with the program's status.
# Usage: wine_run.sh PREFIX PROGRAM [ARGS...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../e2e/xvfb_session.sh"
. "$here/wine_env.sh"

use_wine_prefix "$1"
shift
start_xvfb 1280x720 || exit 1
started=$SECONDS
wine "$@"
status=$?
# a program that fails before it prints (Wine's own messages are off) still leaves a line
[ $status -eq 0 ] || echo "wine_run: ${1##*/} ended with status $status after $((SECONDS - started)) s" >&2
stop_wine
exit $status
