#version 430
// Scene pass: a grey soft disc that jumps three times per 10.16 s cycle, pulses, glitches and
// carries a fine speckle, on a fixed timeline of the demo clock.

layout(location = 0) uniform int t;
layout(location = 1) uniform vec2 resolution;

layout(location = 0) out vec4 oColor;

#include "timeline.glsl"

float time = float(t) * 0.001;

// set by the main body before circle() reads them; the initial values only keep the
// compiler's uninitialised-use warning out of the info log
float qt = 0.0;
float stre = 0.0;

float hash12(vec2 p)
{
    vec3 p3 = fract(vec3(p.xyx) * 0.1031);
    p3 += dot(p3, p3.yzx + 9.0);
    return fract((p3.x + p3.y) * p3.z);
}

float hash13(vec3 p3)
{
    p3 = fract(p3 * 0.1031);
    p3 += dot(p3, p3.yzx + 19.19);
    return fract((p3.x + p3.y) * p3.z);
}

vec2 hash21(float p)
{
    vec3 p3 = fract(vec3(p) * vec3(0.1031, 0.1030, 0.0973));
    p3 += dot(p3, p3.yzx + 19.19);
    return fract((p3.xx + p3.yz) * p3.zy);
}

// smooth value noise on the unit lattice
float noise(vec2 x)
{
    vec2 i = floor(x);
    vec2 r = fract(x);
    vec2 f = r * r * (3.0 - 2.0 * r);
    float a = hash12(i);
    float b = hash12(i + vec2(1.0, 0.0));
    float c = hash12(i + vec2(0.0, 1.0));
    float e = hash12(i + vec2(1.0, 1.0));
    return mix(mix(a, b, f.x), mix(c, e, f.x), f.y);
}

vec4 circle(vec2 uv, vec2 pos)
{
    float s = 1.6 + 7.0 * pow(max(0.0, noise(vec2(round(qt), round(-qt)))), 3.0);
    s *= sqrt(stre) * (1.0 - smoothstep(swell.x, swell.y, time));
    // from 82 s the fade makes s exactly 0 and 1/s has no value; dividing by 1 there instead
    // leaves s*uv at 0, so the disc is empty, and no infinity or NaN is ever formed
    uv += pos + vec2(1.0 / (s == 0.0 ? 1.0 : s));
    float val = clamp(1.0 - length(s * uv - vec2(1.0)), 0.0, 11.0);
    val = pow(max(0.0, 0.1 * val), 0.5);
    return vec4(clamp(val, 0.0, 1.0));
}

void main()
{
    vec2 uv = gl_FragCoord.xy / resolution.y;

    float midpart = smoothstep(middleOut.x, middleOut.y, time) - smoothstep(middleIn.x, middleIn.y, time);
    float glitch = (smoothstep(glitchIn.x, glitchIn.y, time) - smoothstep(glitchOut.x, glitchOut.y, time)
                    - midpart)
                 * hash13(vec3(uv.x, uv.y, 0.2 * round(5.0 * time)));
    // a hole: the target keeps what an earlier frame left here
    if (glitch > 0.8)
        discard;
    // pull towards a 1/15 grid, scaled by 0.0666 rather than 1/15
    uv = mix(uv, 0.0666 * round(15.0 * uv), glitch);

    float lf = 1.0 / cycleSeconds;
    qt = 3.6 * ceil(time * lf) / lf + 3.5 * ceil((time - secondJumpSeconds) * lf) / lf
       + 8.9 * ceil((time - thirdJumpSeconds) * lf) / lf;
    // GLSL mod is floored, so the phases stay in [0, cycleSeconds) while the clock is negative
    float disptime = pow(1.0 - mod(time, 1.0 / lf) * lf, 3.0)
                   + pow(1.0 - mod(time - secondJumpSeconds, 1.0 / lf) * lf, 5.0)
                   + pow(1.0 - mod(time - thirdJumpSeconds, 1.0 / lf) * lf, 4.0);
    disptime = mix(disptime, 1.0, smoothstep(pulseEnd.x, pulseEnd.y, time));

    stre = mix(0.2, 1.0, smoothstep(drop.x, drop.y, time) + 1.1 * midpart);
    stre = mix(stre, 3.0, smoothstep(78.0, 82.0, time));

    vec2 h = hash21(qt);
    vec2 pos = vec2(-1.8 * h.x, -1.0 * h.y);
    oColor = circle(uv, pos) * disptime * stre;

    // speckle darkens red, green and blue; alpha keeps the disc value
    float o = 999.0 * hash13(vec3(90.0 * time, -33.0 * time, 2.0 + time));
    float k = smoothstep(0.45, 0.55, noise(vec2(1100.0 * uv.x + o, 1100.0 * uv.y + o)));
    oColor.rgb -= (0.25 - 0.25 * pow(smoothstep(swell.x, swell.y, time), 0.5)) * k;
}
