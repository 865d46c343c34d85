// The three passes of a frame. No pass clears, blends or changes the viewport: every pass covers
// its whole target, except the scene pixels the scene shader discards, which keep their value.
#include "render/frame_pipeline.h"

namespace quarvel {

void drawFrame(const GlApi& gl, const Pipeline& pipeline, int32_t t, int32_t n,
               GLuint outputFramebuffer) {
    const RenderTargets& targets = pipeline.targets;
    const Programs& programs = pipeline.programs;
    const FeedbackSlots slots = feedbackSlots(n);
    const auto width = static_cast<GLfloat>(pipeline.width);
    const auto height = static_cast<GLfloat>(pipeline.height);

    // scene
    gl.glActiveTexture(gl::TEXTURE0);
    gl.glBindFramebuffer(gl::FRAMEBUFFER, targets.sceneFramebuffer);
    gl.glDrawBuffer(gl::COLOR_ATTACHMENT0);
    gl.glUseProgram(programs.scene);
    gl.glUniform1i(0, t);
    gl.glUniform2f(1, width, height);
    gl.glRects(-1, -1, 1, 1);

    // feedback: the texture read stays attached, but only the written one is the draw buffer
    gl.glBindFramebuffer(gl::FRAMEBUFFER, targets.feedbackFramebuffer);
    gl.glDrawBuffer(targets.feedbackAttachments[slots.write]);
    gl.glUseProgram(programs.feedback);
    gl.glActiveTexture(gl::TEXTURE0);
    gl.glBindTexture(gl::TEXTURE_2D, targets.sceneTexture);
    gl.glUniform1i(1, 0);
    gl.glUniform1i(0, t);
    gl.glActiveTexture(gl::TEXTURE1);
    gl.glBindTexture(gl::TEXTURE_2D, targets.feedbackTextures[slots.read]);
    gl.glUniform1i(2, 1);
    gl.glUniform2f(3, width, height);
    gl.glRects(-1, -1, 1, 1);
    gl.glBindTexture(gl::TEXTURE_2D, 0);

    // post
    gl.glBindFramebuffer(gl::FRAMEBUFFER, outputFramebuffer);
    gl.glActiveTexture(gl::TEXTURE0);
    gl.glBindTexture(gl::TEXTURE_2D, targets.feedbackTextures[slots.write]);
    gl.glUseProgram(programs.post);
    gl.glUniform1i(0, 0);
    gl.glUniform1i(1, t);
    gl.glUniform2f(2, width, height);
    gl.glRects(-1, -1, 1, 1);
}

void endFrame(const GlApi& gl) {
    gl.glBindTexture(gl::TEXTURE_2D, 0);
}

}  // namespace quarvel
