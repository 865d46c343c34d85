#version 300 es
// The browser build's vertex stage: one triangle, from (-1, -1) to (3, -1) and (-1, 3), whose
// clipped part is the whole target, drawn with no vertex data. WebGL2 has neither glRects nor a
// fixed-function vertex stage, and the fragment shaders read only gl_FragCoord.

void main()
{
    vec2 corner = vec2(float((gl_VertexID & 1) << 2), float((gl_VertexID & 2) << 1));
    gl_Position = vec4(corner - 1.0, 0.0, 1.0);
}
