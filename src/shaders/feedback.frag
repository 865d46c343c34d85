#version 430
// Feedback pass: adds the scene to the previous frame's image, read along a flow field of
// three-octave simplex noise, and decays the sum; its output is the next frame's input.

layout(location = 0) uniform int T;
layout(location = 1) uniform sampler2D inputtex;
layout(location = 2) uniform sampler2D feedback;
layout(location = 3) uniform vec2 resolution;

layout(location = 0) out vec4 oColor;

#include "timeline.glsl"

// 0.05 per clock second up to 20.1 s, 0.3 from 20.2 s; the factor scales the whole clock value,
// so time jumps from 1.005 to 6.06 in between
float time = float(T) * (0.00005 + 0.00025 * smoothstep(feedbackSpeedUp.x, feedbackSpeedUp.y, float(T)*0.001));

#include "noise.glsl"

void main()
{
    vec2 uv = -1.0 + 2.0 * gl_FragCoord.xy / resolution;
    uv.x *= resolution.x / resolution.y;
    uv *= 1.05;

    vec4 ac = vec4(0.0);
    vec3 v = vec3(uv.x, uv.y, 0.4 * time);

    float disp_freq = 1.25 - 0.75 * smoothstep(flowScale.x*0.3, flowScale.y*0.3, time);
    v.xy *= disp_freq;
    vec4 disp = mix(vec4(0.0), vec4(0.5 + 0.5 * fbm3(-0.5 * v + 11.2)), 0.015);
    v.xy /= disp_freq;
    v += 2.0 * disp.x;

    vec2 off = vec2(fbm3(v), fbm3(v + 99.0))
             * (0.8 + 0.5 * smoothstep(flowScale.x*0.3, flowScale.y*0.3, time));

    vec2 uv2 = gl_FragCoord.xy / resolution;
    ac += texture(inputtex, uv2);

    // the timeline marks are clock seconds times 0.3, the rate of time after the jump
    float midpart = -smoothstep(middleIn.x*0.3, middleIn.y*0.3, time)
                  + smoothstep(middleOut.x*0.3, middleOut.y*0.3, time);
    float styleanim = smoothstep(drop.x*0.3, drop.y*0.3, time) - 0.25 * smoothstep(61.*0.3, 80.*0.3, time)
                    + midpart - 0.4 * smoothstep(flowScale.x*0.3, flowScale.y*0.3, time);

    ac += texture(feedback, uv2 + off * mix(0.02, 0.5, styleanim));

    float e = (0.96 + 0.02 * midpart) * 1.002 * (1.0 - disp.x);
    ac = 0.96 * clamp(pow(clamp(ac - disp, 0.0, 1.0), vec4(e)), 0.0, 1.0);
    oColor = ac;
}
