// The three passes of a frame. No pass clears, blends or changes the viewport: every pass covers
// its whole target, except the scene pixels the scene shader discards, which keep their value.
#include "render/frame_pipeline.h"

#include "shaders/shader_interface.h"

namespace quarvel {

namespace {

GLfloat widthOf(const Pipeline& pipeline) {
    return static_cast<GLfloat>(pipeline.width);
}

GLfloat heightOf(const Pipeline& pipeline) {
    return static_cast<GLfloat>(pipeline.height);
}

}  // namespace

ProgramsResult createPipeline(const GlApi& gl, const ShaderSources& sources, int32_t width, int32_t height,
                              Pipeline& pipeline) {
    pipeline.width = width;
    pipeline.height = height;
    pipeline.targets = createRenderTargets(gl, width, height);
    const ProgramsResult programs = createPrograms(gl, sources);
    if (programs.status.ok) pipeline.programs = programs.programs;
    return programs;
}

void destroyPipeline(const GlApi& gl, Pipeline& pipeline) {
    RenderTargets& targets = pipeline.targets;
    gl.glDeleteFramebuffers(1, &targets.sceneFramebuffer);
    gl.glDeleteFramebuffers(1, &targets.feedbackFramebuffer);
    gl.glDeleteTextures(1, &targets.sceneTexture);
    gl.glDeleteTextures(2, targets.feedbackTextures);
    for (const GLuint program : {pipeline.programs.scene, pipeline.programs.feedback, pipeline.programs.post})
        gl.glDeleteProgram(program);
    pipeline = {};
}

void drawScenePass(const GlApi& gl, const Pipeline& pipeline, int32_t t) {
    gl.glActiveTexture(gl::TEXTURE0);
    gl.glBindFramebuffer(gl::FRAMEBUFFER, pipeline.targets.sceneFramebuffer);
    gl.glDrawBuffer(gl::COLOR_ATTACHMENT0);
    gl.glUseProgram(pipeline.programs.scene);
    gl.glUniform1i(shaders::scene::t.location, t);
    gl.glUniform2f(shaders::scene::resolution.location, widthOf(pipeline), heightOf(pipeline));
    gl.glRects(-1, -1, 1, 1);
}

// The texture read stays attached, but only the written one is the draw buffer.
void drawFeedbackPass(const GlApi& gl, const Pipeline& pipeline, int32_t t, FeedbackSlots slots) {
    const RenderTargets& targets = pipeline.targets;
    gl.glBindFramebuffer(gl::FRAMEBUFFER, targets.feedbackFramebuffer);
    gl.glDrawBuffer(targets.feedbackAttachments[slots.write]);
    gl.glUseProgram(pipeline.programs.feedback);
    gl.glActiveTexture(gl::TEXTURE0);
    gl.glBindTexture(gl::TEXTURE_2D, targets.sceneTexture);
    gl.glUniform1i(shaders::feedback::inputtex.location, 0);
    gl.glUniform1i(shaders::feedback::T.location, t);
    gl.glActiveTexture(gl::TEXTURE1);
    gl.glBindTexture(gl::TEXTURE_2D, targets.feedbackTextures[slots.read]);
    gl.glUniform1i(shaders::feedback::feedback.location, 1);
    gl.glUniform2f(shaders::feedback::resolution.location, widthOf(pipeline), heightOf(pipeline));
    gl.glRects(-1, -1, 1, 1);
    gl.glBindTexture(gl::TEXTURE_2D, 0);
}

void drawPostPass(const GlApi& gl, const Pipeline& pipeline, int32_t t, FeedbackSlots slots,
                  GLuint outputFramebuffer) {
    gl.glBindFramebuffer(gl::FRAMEBUFFER, outputFramebuffer);
    gl.glActiveTexture(gl::TEXTURE0);
    gl.glBindTexture(gl::TEXTURE_2D, pipeline.targets.feedbackTextures[slots.write]);
    gl.glUseProgram(pipeline.programs.post);
    gl.glUniform1i(shaders::post::inputtex.location, 0);
    gl.glUniform1i(shaders::post::T.location, t);
    gl.glUniform2f(shaders::post::resolution.location, widthOf(pipeline), heightOf(pipeline));
    gl.glRects(-1, -1, 1, 1);
}

void drawFrame(const GlApi& gl, const Pipeline& pipeline, int32_t t, int32_t n, GLuint outputFramebuffer) {
    const FeedbackSlots slots = feedbackSlots(n);
    drawScenePass(gl, pipeline, t);
    drawFeedbackPass(gl, pipeline, t, slots);
    drawPostPass(gl, pipeline, t, slots, outputFramebuffer);
}

void endFrame(const GlApi& gl) {
    gl.glBindTexture(gl::TEXTURE_2D, 0);
}

}  // namespace quarvel
