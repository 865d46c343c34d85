// Creates the render targets and shader programs once, right after the context is current.
#include "render/render_targets.h"

#include "shaders/shader_sources.h"

#include <vector>

namespace quarvel {

ShaderSources builtInShaderSources() {
    return {shaders::sceneSource, shaders::feedbackSource, shaders::postSource};
}

namespace {

void prepareTexture(const GlApi& gl, GLuint texture, int32_t width, int32_t height,
                    const std::vector<unsigned char>& zeros) {
    gl.glBindTexture(gl::TEXTURE_2D, texture);
    gl.glTexParameteri(gl::TEXTURE_2D, gl::TEXTURE_MAG_FILTER, gl::LINEAR);
    gl.glTexParameteri(gl::TEXTURE_2D, gl::TEXTURE_MIN_FILTER, gl::LINEAR);
    gl.glTexParameteri(gl::TEXTURE_2D, gl::TEXTURE_WRAP_S, gl::CLAMP_TO_EDGE);
    gl.glTexParameteri(gl::TEXTURE_2D, gl::TEXTURE_WRAP_T, gl::CLAMP_TO_EDGE);
    gl.glTexImage2D(gl::TEXTURE_2D, 0, gl::RGBA, width, height, 0, gl::RGBA, gl::UNSIGNED_BYTE, zeros.data());
    gl.glBindTexture(gl::TEXTURE_2D, 0);
}

std::string infoLog(const GlApi& gl, GLhandleARB object) {
    // the driver fills at most 2,047 characters, terminator included
    char text[2048] = {};
    gl.glGetInfoLogARB(object, 2047, nullptr, text);
    return text;
}

}  // namespace

RenderTargets createRenderTargets(const GlApi& gl, int32_t width, int32_t height) {
    RenderTargets targets;
    const std::vector<unsigned char> zeros(static_cast<std::size_t>(width) * height * 4, 0);

    gl.glGenFramebuffers(1, &targets.sceneFramebuffer);
    gl.glBindFramebuffer(gl::FRAMEBUFFER, targets.sceneFramebuffer);
    gl.glGenTextures(1, &targets.sceneTexture);
    prepareTexture(gl, targets.sceneTexture, width, height, zeros);
    gl.glFramebufferTexture2D(gl::FRAMEBUFFER, gl::COLOR_ATTACHMENT0, gl::TEXTURE_2D, targets.sceneTexture,
                              0);

    gl.glGenFramebuffers(1, &targets.feedbackFramebuffer);
    gl.glBindFramebuffer(gl::FRAMEBUFFER, targets.feedbackFramebuffer);
    gl.glGenTextures(2, targets.feedbackTextures);
    prepareTexture(gl, targets.feedbackTextures[0], width, height, zeros);
    prepareTexture(gl, targets.feedbackTextures[1], width, height, zeros);
    gl.glFramebufferTexture2D(gl::FRAMEBUFFER, gl::COLOR_ATTACHMENT0, gl::TEXTURE_2D,
                              targets.feedbackTextures[0], 0);
    gl.glFramebufferTexture2D(gl::FRAMEBUFFER, gl::COLOR_ATTACHMENT1, gl::TEXTURE_2D,
                              targets.feedbackTextures[1], 0);
    return targets;
}

ProgramsResult createPrograms(const GlApi& gl, const ShaderSources& sources) {
    struct Stage {
        const char* name;
        const char* source;
        GLuint* program;
        GLuint shader;
    };
    ProgramsResult result;
    Stage stages[] = {
        {"scene", sources.scene, &result.programs.scene, 0},
        {"feedback", sources.feedback, &result.programs.feedback, 0},
        {"post", sources.post, &result.programs.post, 0},
    };

    for (Stage& stage : stages) *stage.program = gl.glCreateProgram();
    for (Stage& stage : stages) {
        stage.shader = gl.glCreateShader(gl::FRAGMENT_SHADER);
        gl.glShaderSource(stage.shader, 1, &stage.source, nullptr);
        gl.glCompileShader(stage.shader);
        gl.glAttachShader(*stage.program, stage.shader);
        gl.glLinkProgram(*stage.program);
    }

    for (const Stage& stage : stages) {
        GLint compiled = 0;
        gl.glGetObjectParameterivARB(stage.shader, gl::OBJECT_COMPILE_STATUS_ARB, &compiled);
        if (compiled == 0) {
            // the program's log is what the user is shown; the shader's own log names the line
            result.failedShader = stage.name;
            result.programLog = infoLog(gl, *stage.program);
            result.shaderLog = infoLog(gl, stage.shader);
            result.status =
                failure(std::string("the ") + stage.name + " shader does not compile:\n" + result.shaderLog);
            return result;
        }
    }
    for (const Stage& stage : stages) gl.glDeleteShader(stage.shader);
    result.status = success();
    return result;
}

}  // namespace quarvel
