// The GLSL sources, built into the program from the .frag and .glsl files beside this header.
#pragma once

namespace quarvel::shaders {

extern const char* const sceneSource;
extern const char* const feedbackSource;  // noise.glsl already inserted
extern const char* const postSource;      // noise.glsl already inserted
extern const char* const noiseSource;

}  // namespace quarvel::shaders
