// The GLSL sources, built into the program from the .frag and .glsl files beside this header.
#pragma once

namespace quarvel::shaders {

// The GL the embedded sources are written for: OpenGL 4.3 on the desktop, OpenGL ES 3.0 (WebGL2)
// in the browser build, whose sources are the GLSL ES forms of the same files.
struct GlslTarget {
    bool es = false;
    int major = 0;
    int minor = 0;
};

extern const GlslTarget sourcesTarget;

extern const char* const sceneSource;
extern const char* const feedbackSource;  // noise.glsl already inserted
extern const char* const postSource;      // noise.glsl already inserted
extern const char* const noiseSource;
// GLSL ES 3.00: the one full-screen triangle the browser build draws in place of glRects
extern const char* const fullScreenVertexSource;

}  // namespace quarvel::shaders
