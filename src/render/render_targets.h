// The GL objects the frame pipeline draws with: the scene target, the feedback target with its
// two ping-pong textures, and the scene, feedback and post programs.
#pragma once

#include "render/gl_api.h"

#include <cstdint>
#include <string>

namespace quarvel {

struct RenderTargets {
    GLuint sceneFramebuffer = 0;
    GLuint sceneTexture = 0;
    GLuint feedbackFramebuffer = 0;
    GLuint feedbackTextures[2] = {0, 0};
    // indexed by the slot the feedback pass writes
    GLenum feedbackAttachments[2] = {gl::COLOR_ATTACHMENT0, gl::COLOR_ATTACHMENT1};
};

struct ShaderSources {
    const char* scene = nullptr;
    const char* feedback = nullptr;
    const char* post = nullptr;
};

// The sources built into the program.
ShaderSources builtInShaderSources();

struct Programs {
    GLuint scene = 0;
    GLuint feedback = 0;
    GLuint post = 0;
};

struct ProgramsResult {
    Status status;  // the failure names the shader and carries its own compile log
    Programs programs;
    const char* failedShader = "";  // "scene", "feedback" or "post" when !ok
    std::string programLog;         // info log of the failed shader's program, as the user sees it
    std::string shaderLog;          // the failed shader's own compile log
};

// Creates both targets at width x height and leaves the feedback framebuffer bound.
// Every texture is RGBA8, linear, clamped to its edge, and starts zeroed so runs are repeatable.
RenderTargets createRenderTargets(const GlApi& gl, int32_t width, int32_t height);

// Compiles and links all three programs first, then checks the compile status of the
// scene, feedback and post shaders in that order; the first failure stops the check. Once all
// three compiled, the shader objects are left to be freed with their programs.
ProgramsResult createPrograms(const GlApi& gl, const ShaderSources& sources);

}  // namespace quarvel
