#version 430
layout(location = 0) uniform int T;
layout(location = 1) uniform sampler2D inputtex;
layout(location = 2) uniform sampler2D feedback;
layout(location = 3) uniform vec2 resolution;
out vec4 oColor;
float time = float(T) * 0.00005;
#include "noise.glsl"
void main() {
    vec2 uv2 = gl_FragCoord.xy / resolution;
    oColor = texture(inputtex, uv2) + texture(feedback, uv2) + vec4(0.0 * fbm3(vec3(uv2, time)));
}
