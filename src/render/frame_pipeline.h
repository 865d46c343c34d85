// One frame of the show: the scene, feedback and post passes at demo clock t.
// The demo draws the post pass into the window; the capture tool into a framebuffer of its own.
#pragma once

#include "render/gl_api.h"
#include "render/render_targets.h"

#include <cstdint>

namespace quarvel {

struct Pipeline {
    RenderTargets targets;
    Programs programs;
    int32_t width = 0;
    int32_t height = 0;
};

// Creates the targets and then the programs of a width x height pipeline: the order the demo
// starts in. `pipeline` gets its programs only when all three compile.
ProgramsResult createPipeline(const GlApi& gl, const ShaderSources& sources, int32_t width, int32_t height,
                              Pipeline& pipeline);

// Deletes what createPipeline made (the demo leaves it to process exit; tools and tests that make
// several pipelines in one context do not).
void destroyPipeline(const GlApi& gl, Pipeline& pipeline);

// Which feedback texture frame n reads and which it writes: each frame reads what the previous
// one wrote, and frame 0 reads texture 0.
struct FeedbackSlots {
    int read = 0;
    int write = 1;
};

constexpr FeedbackSlots feedbackSlots(int32_t n) {
    const int r = n % 2;
    return {r, r == 0 ? 1 : 0};
}

// Runs the three passes of frame n at clock t (milliseconds). The post pass draws into
// outputFramebuffer (0 is the window's back buffer). Leaves feedback texture `write` bound on
// texture unit 0 until endFrame.
void drawFrame(const GlApi& gl, const Pipeline& pipeline, int32_t t, int32_t n, GLuint outputFramebuffer);

// The passes of drawFrame one by one, in this order, for whoever must look between them.
void drawScenePass(const GlApi& gl, const Pipeline& pipeline, int32_t t);
void drawFeedbackPass(const GlApi& gl, const Pipeline& pipeline, int32_t t, FeedbackSlots slots);
void drawPostPass(const GlApi& gl, const Pipeline& pipeline, int32_t t, FeedbackSlots slots,
                  GLuint outputFramebuffer);

// Called after the frame has been presented or read back.
void endFrame(const GlApi& gl);

}  // namespace quarvel
