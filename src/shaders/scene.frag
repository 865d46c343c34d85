#version 430
layout(location = 0) uniform int t;
layout(location = 1) uniform vec2 resolution;
out vec4 oColor;
float time = float(t) * 0.001;
void main() {
    oColor = vec4(0.0);
}
