// The three passes drawn one at a time with the bindings the frame pipeline gives them, so a
// test can choose each pass's inputs and the storage of its output.
#pragma once

#include "shaders/shader_interface.h"
#include "shaders/shader_sources.h"
#include "support/gl_test_context.h"

#include <cstdint>
#include <string>

namespace quarvel::test {

// `resolution` defaults to the target's size; a larger one draws the lower-left corner of
// that window only.
struct Resolution {
    float width = 0.0f;
    float height = 0.0f;
};

inline Resolution resolutionOf(const ShaderTarget& target, Resolution resolution) {
    if (resolution.width > 0.0f) return resolution;
    return {static_cast<float>(target.width()), static_cast<float>(target.height())};
}

struct ScenePass {
    const test::TestGl& gl;
    Program program;

    explicit ScenePass(const test::TestGl& api, const std::string& source = shaders::sceneSource)
        : gl(api), program(api, source) {}

    void draw(const ShaderTarget& target, int32_t t, Resolution resolution = {}) const {
        const Resolution size = resolutionOf(target, resolution);
        target.bindForDrawing();
        gl.glUseProgram(program.id());
        gl.glUniform1i(shaders::scene::t.location, t);
        gl.glUniform2f(shaders::scene::resolution.location, size.width, size.height);
        drawRectangle(gl);
        gl.glUseProgram(0);
    }
};

struct FeedbackPass {
    const test::TestGl& gl;
    Program program;

    explicit FeedbackPass(const test::TestGl& api, const std::string& source = shaders::feedbackSource)
        : gl(api), program(api, source) {}

    void draw(const ShaderTarget& target, int32_t t, const ShaderTarget& scene, const ShaderTarget& previous,
              Resolution resolution = {}) const {
        const Resolution size = resolutionOf(target, resolution);
        target.bindForDrawing();
        gl.glUseProgram(program.id());
        bindTexture(gl, 0, scene.texture());
        bindTexture(gl, 1, previous.texture());
        gl.glUniform1i(shaders::feedback::T.location, t);
        gl.glUniform1i(shaders::feedback::inputtex.location, 0);
        gl.glUniform1i(shaders::feedback::feedback.location, 1);
        gl.glUniform2f(shaders::feedback::resolution.location, size.width, size.height);
        drawRectangle(gl);
        gl.glUseProgram(0);
        bindTexture(gl, 1, 0);
        bindTexture(gl, 0, 0);
    }
};

struct PostPass {
    const test::TestGl& gl;
    Program program;

    explicit PostPass(const test::TestGl& api, const std::string& source = shaders::postSource)
        : gl(api), program(api, source) {}

    void draw(const ShaderTarget& target, int32_t t, const ShaderTarget& input,
              Resolution resolution = {}) const {
        const Resolution size = resolutionOf(target, resolution);
        target.bindForDrawing();
        gl.glUseProgram(program.id());
        bindTexture(gl, 0, input.texture());
        gl.glUniform1i(shaders::post::inputtex.location, 0);
        gl.glUniform1i(shaders::post::T.location, t);
        gl.glUniform2f(shaders::post::resolution.location, size.width, size.height);
        drawRectangle(gl);
        gl.glUseProgram(0);
        bindTexture(gl, 0, 0);
    }
};

}  // namespace quarvel::test
