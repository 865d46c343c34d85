#!/usr/bin/env bash
# Runs a fuzz target for RUNS inputs (or for SECONDS when RUNS is e.g. -max_total_time=600),
# from CORPUS, which gets its seeds the first time: short MP3 files as ffmpeg writes them, whole,
# cut and tagged; or page addresses.
# Usage: run_fuzz.sh TARGET mp3-check|still-request CORPUS [RUNS]
set -eu
target=$1
kind=$2
corpus=$3
runs=${4:-50000}
if [ ! -d "$corpus" ]; then
    mkdir -p "$corpus"
    case $kind in
        mp3-check)
            ffmpeg -nostdin -v error -f lavfi -i sine=frequency=440:duration=0.2 -c:a libmp3lame -b:a 32k \
                "$corpus/whole.mp3"
            ffmpeg -nostdin -v error -f lavfi -i sine=frequency=440:duration=0.2 -c:a libmp3lame -b:a 32k \
                -metadata title=quarvel -id3v2_version 3 -write_id3v1 1 -write_xing 0 "$corpus/tagged.mp3"
            head -c 700 "$corpus/whole.mp3" >"$corpus/cut.mp3"
            ;;
        still-request)
            printf '25000\000640x360' >"$corpus/size"
            printf -- '-1' >"$corpus/clock"
            printf '0\00065536x1' >"$corpus/largest"
            ;;
        *) echo "unknown fuzz target kind $kind" >&2; exit 2 ;;
    esac
fi
case $runs in
    -*) limit=$runs ;;
    *) limit=-runs=$runs ;;
esac
exec "$target" "$limit" -rss_limit_mb=2048 -print_final_stats=1 "$corpus"
