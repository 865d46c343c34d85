// The GLSL sources, built into the program from the .frag and .glsl files beside this header.
#pragma once

namespace quarvel::shaders {

extern const char* const sceneSource;
extern const char* const feedbackSource;  // noise.glsl already inserted
extern const char* const postSource;      // noise.glsl already inserted
extern const char* const noiseSource;
// GLSL ES 3.00: the one full-screen triangle the browser build draws in place of glRects
extern const char* const fullScreenVertexSource;

}  // namespace quarvel::shaders
