#!/usr/bin/env bash
# What a machine's GPU makes of the show, from a release build: the EGL devices and the renderer
# the headless programs choose, the pipeline benchmark at 1920x1080 and 3840x2160, and a capture
# of GPU_CHECK_SECONDS (default 10) at 1920x1080, 60 fps, to PNG frames and to share. Each step
# is cut at 150 s, so it ends within 8 minutes; on llvmpipe give it GPU_CHECK_SECONDS=1. Prints
# figures; it is not a test.
#   bench/gpu_check.sh [BIN]          BIN: the build's programs (default build/release/bin), or a pack
#   bench/gpu_check.sh --pack BIN OUT copies into OUT the programs, the soundtrack and the libraries
#                                     they link, but for the C library and the GL and EGL the GPU's
#                                     driver brings, for a machine that has none of the build's
# ffmpeg does not travel (some 250 MB of libraries): where the machine lacks it, the video capture
# is skipped, and the script says so.
set -u
programs=(quarvel-capture quarvel-bench-pipeline)

if [ "${1:-}" = --pack ]; then
    bin=$2 out=$3
    mkdir -p "$out/lib" || exit 1
    for program in "${programs[@]}"; do cp "$bin/$program" "$out/" || exit 1; done
    [ -f "$bin/audio.mp3" ] && cp "$bin/audio.mp3" "$out/"
    ldd "${programs[@]/#/$bin/}" | awk '$3 ~ /^\// { print $3 }' | sort -u |
        grep -vE '/(libc|libm|libdl|libpthread|librt|ld-linux[^/]*|libEGL|libGL[^/]*|libgbm|libdrm)\.so' |
        xargs -r cp -L -t "$out/lib/"
    echo "packed into $out: $(du -sh "$out" | cut -f1)"
    exit 0
fi

bin=$(cd "${1:-build/release/bin}" && pwd) || exit 1
seconds=${GPU_CHECK_SECONDS:-10}
[ -d "$bin/lib" ] && export LD_LIBRARY_PATH=$bin/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

step() { echo; echo "== $*"; }

step "EGL devices (QUARVEL_EGL_DEVICE or --device picks one; without, the first GPU)"
"$bin/quarvel-capture" --list-devices
step "the pipeline at 1920x1080 and 3840x2160"
timeout 150 "$bin/quarvel-bench-pipeline" 20 1920x1080 3840x2160 ||
    echo "the pipeline benchmark failed or ran past 150 s"
step "$seconds s at 1920x1080, 60 fps, to PNG frames"
mkdir "$work/frames"
timeout 150 "$bin/quarvel-capture" --size 1920x1080 --fps 60 --to "$seconds" "$work/frames/%04d.png" 2>&1 ||
    echo "the PNG capture failed or ran past 150 s"
echo "frames: $(du -sh "$work/frames" | cut -f1)"
rm -rf "$work/frames"
step "$seconds s at 1920x1080, 60 fps, to share (H.264 in .mp4)"
if command -v ffmpeg >/dev/null; then
    audio=()
    [ -f "$bin/audio.mp3" ] && audio=(--audio "$bin/audio.mp3")
    timeout 150 "$bin/quarvel-capture" --size 1920x1080 --fps 60 --to "$seconds" "${audio[@]}" \
        "$work/share.mp4" 2>&1 ||
        echo "the share capture failed or ran past 150 s"
else
    echo "skipped: this machine has no ffmpeg"
fi
