#version 430
layout(location = 0) uniform sampler2D inputtex;
layout(location = 1) uniform int T;
layout(location = 2) uniform vec2 resolution;
out vec4 oColor;
float time = float(T) * 0.001;
#include "noise.glsl"
void main() {
    vec2 uv = gl_FragCoord.xy / resolution;
    oColor = vec4(texture(inputtex, uv).rg + uv, 0.5 + 0.0 * simplex(vec3(uv, time)), 1.0);
}
