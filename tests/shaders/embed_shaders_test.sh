#!/usr/bin/env bash
# The shader embedding step: the uniform header it writes from the real sources, and the sources
# it refuses, each with its own message. Usage: embed_shaders_test.sh SHADER_DIR EMBED_SCRIPT
set -u
shaders=$1
script=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# embed FOLDER: runs the step on the files in FOLDER; its output goes to $work/out.txt
embed() {
    cmake -DSHADER_DIR="$1" -DOUTPUT="$1/sources.cpp" -DINTERFACE="$1/interface.h" \
        -DTIMELINE="$shaders/../base/show_timeline.h" -P "$script" >"$work/out.txt" 2>&1
}

# the real sources give each program's uniforms at the locations their layout lines name
cp -r "$shaders" "$work/good"
embed "$work/good" || { echo "FAIL: the real sources were refused: $(cat "$work/out.txt")"; exit 1; }
for line in 'inline constexpr Uniform t{0, "t"};' 'inline constexpr Uniform resolution{3, "resolution"};' \
    'inline constexpr Uniform uniforms[] = {inputtex, T, resolution};'; do
    grep -qF "$line" "$work/good/interface.h" || { echo "FAIL: the header lacks: $line"; failures=$((failures + 1)); }
done

# refuse CASE EXPECTED SED: the step must fail on post.frag edited by SED, saying EXPECTED
refuse() {
    rm -rf "$work/bad" && cp -r "$shaders" "$work/bad"
    sed -i "$3" "$work/bad/post.frag"
    if embed "$work/bad"; then
        echo "FAIL: $1 was accepted"
        failures=$((failures + 1))
    elif ! grep -qF "$2" "$work/out.txt"; then
        echo "FAIL: $1 was refused without '$2': $(cat "$work/out.txt")"
        failures=$((failures + 1))
    fi
}
refuse "a uniform without a location" "a uniform without the form" 's/^layout(location = 1) uniform int T;/uniform int T;/'
refuse "two uniforms at one location" "two uniforms at location 0" 's/^layout(location = 1) uniform int T;/layout(location = 0) uniform int T;/'
refuse "an unknown include" "an #include that the embedder does not know" '1a #include "other.glsl"'

[ "$failures" -eq 0 ] && echo "PASS: the uniform header and three refusals"
exit "$failures"
