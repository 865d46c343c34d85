#!/usr/bin/env bash
# Soak of the soundtrack on real sound servers: SHOWS whole shows (10 unless told) on each of
# PulseAudio and PipeWire, each with both cores kept busy, through the sound test's harness
# (tests/e2e/sound_server_test.sh). Prints each show's figures, among them the largest offset of
# the sound from its place after the first second, then per server the dropouts, the range of
# first-sample offsets and the largest offset from place. A benchmark: it reports, it does not
# pass or fail.
# Usage: bench/sound_soak.sh [BIN_DIR] [SHOWS]   (BIN_DIR: build/release/bin)
# SOAK_SERVERS: the servers, of "pulseaudio pipewire"; both unless told.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
bin_dir=${1:-$root/build/release/bin}
shows=${2:-10}
artifacts=$(mktemp -d)
trap 'rm -rf "$artifacts"' EXIT
for server in ${SOAK_SERVERS:-pulseaudio pipewire}; do
    total=0 excused=0 offsets=() largest=0
    for i in $(seq 1 "$shows"); do
        line=$("$root/tests/e2e/sound_server_test.sh" "$server" "$bin_dir" "$artifacts" all figures-only 2>&1 |
            grep -E "^$server: compared|FAIL|SKIP" | head -n 1)
        echo "$server show $i: ${line#"$server: "}"
        # the demo's dropouts come first; those the compare excused (a stall of the machine, the
        # server skipping) last, and apart
        n=$(sed -nE 's/^[^:]*: compared [0-9.]+ s: ([0-9]+) dropouts.*/\1/p' <<<"$line")
        e=$(sed -nE 's/.*: ([0-9]+) dropouts$/\1/p' <<<"$line")
        o=$(sed -nE 's/.*heard ([-+][0-9.]+) ms.*/\1/p' <<<"$line")
        [ -n "$n" ] && total=$((total + n))
        [ -n "$e" ] && excused=$((excused + e))
        [ -n "$o" ] && offsets+=("$o")
        p=$(sed -nE 's/.*at most ([0-9.]+) ms from its place.*/\1/p' <<<"$line")
        [ -n "$p" ] && largest=$(awk -v a="$largest" -v b="$p" 'BEGIN { print (b > a ? b : a) }')
    done
    range=$(printf '%s\n' "${offsets[@]}" | sort -g | sed -n '1p;$p' | paste -sd' ')
    echo "$server: $total dropouts in $shows shows ($excused more excused, in stalls of the machine or the server); first sample heard from ${range/ / to } ms from the clock's origin; the sound at most $largest ms from its place after the first second"
done
