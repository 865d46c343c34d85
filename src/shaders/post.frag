#version 430
// Post pass: an inverted soft threshold averaged over ten radially scaled taps per channel,
// red and green exchanged, then gamma, film grain and flicker on the way to the window.

layout(location = 0) uniform sampler2D inputtex;
layout(location = 1) uniform int T;
layout(location = 2) uniform vec2 resolution;

layout(location = 0) out vec4 oColor;

float time = float(T) * 0.001;

const float gammaf = 1.4;
const int N = 10;

#include "noise.glsl"

// from the centred square [-1, 1]^2 back to texture coordinates
vec2 co(vec2 uv)
{
    return 0.5 - 0.5 * uv;
}

vec3 ca(sampler2D t, vec2 UV)
{
    vec2 uv = 1.0 - 2.0 * UV;
    uv *= 0.97;

    // slow wobble of the centre; the squares are products because pow of a negative base is
    // undefined
    float a = fbm3(vec3(0.25 * time, 0.25 * time, 0.25 * time));
    float b = fbm3(vec3(-0.25 * time, -0.25 * time, -0.25 * time));
    uv += 0.025 * vec2(2.0 * a * a - 1.0, 2.0 * b * b - 1.0);

    vec3 c = vec3(0.0);
    float rf = 1.0;
    float gf = 1.0;
    float bf = 1.0;
    float f = 1.0 / float(N);
    for (int i = 0; i < N; i++) {
        c.r += f * pow(smoothstep(0.45, 0.55, 1.0 - texture(t, co(uv * rf)).r), gammaf);
        c.g += f * pow(smoothstep(0.45, 0.55, 1.0 - texture(t, co(uv * gf)).g), gammaf);
        c.b += f * pow(smoothstep(0.45, 0.55, 1.0 - texture(t, co(uv * bf)).b), gammaf);
        rf *= 0.9982;
        gf *= 0.9988;
        bf *= 0.996;
    }
    return c;
}

void main()
{
    vec2 uv = vec2(gl_FragCoord.x / resolution.x, gl_FragCoord.y / resolution.y);

    vec3 c = ca(inputtex, uv);
    oColor = vec4(c.g, c.r, c.b, 1.0);
    oColor.rgb = pow(0.04 + oColor.rgb, vec3(1.0 / gammaf));

    float q = 900.0 * length(resolution) / length(vec2(1280.0, 720.0));
    float grain = simplex(vec3(q * uv.x, q * uv.y, 900.0 * time));
    oColor.rgb = mix(oColor.rgb * (0.97 + 0.1 * grain), oColor.rgb + 0.06 * (-1.0 + 2.0 * grain), 0.5);

    // 3.14159 rather than pi
    oColor.rgb *= 1.0 + 0.006 * sin(time * 25.0 * 3.14159);
}
