// Prints the time a whole frame takes on the headless context: once with pass-through shaders
// (the cost of the pipeline itself) and once with the show's own shaders.
// Usage: quarvel-bench-pipeline [frames]
#include "platform/platform.h"
#include "render/frame_pipeline.h"
#include "render/gl_api.h"
#include "render/render_targets.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using namespace quarvel;

constexpr const char* passThroughScene = R"glsl(#version 430
layout(location = 0) uniform int t;
layout(location = 1) uniform vec2 resolution;
out vec4 oColor;
void main() { oColor = vec4(gl_FragCoord.xy / resolution, float(t) * 0.001, 1.0); }
)glsl";

constexpr const char* passThroughFeedback = R"glsl(#version 430
layout(location = 0) uniform int T;
layout(location = 1) uniform sampler2D inputtex;
layout(location = 2) uniform sampler2D feedback;
layout(location = 3) uniform vec2 resolution;
out vec4 oColor;
void main() {
    vec2 uv = gl_FragCoord.xy / resolution;
    oColor = texture(inputtex, uv) * 0.5 + texture(feedback, uv) * 0.5;
}
)glsl";

constexpr const char* passThroughPost = R"glsl(#version 430
layout(location = 0) uniform sampler2D inputtex;
layout(location = 1) uniform int T;
layout(location = 2) uniform vec2 resolution;
out vec4 oColor;
void main() { oColor = texture(inputtex, gl_FragCoord.xy / resolution); }
)glsl";

double medianFrameMs(const GlApi& gl, const ShaderSources& sources, int32_t width, int32_t height, int frames) {
    Pipeline pipeline;
    pipeline.width = width;
    pipeline.height = height;
    pipeline.targets = createRenderTargets(gl, width, height);
    const ProgramsResult programs = createPrograms(gl, sources);
    if (!programs.ok) {
        std::fprintf(stderr, "%s shader: %s\n", programs.failedShader, programs.shaderLog.c_str());
        std::exit(1);
    }
    pipeline.programs = programs.programs;
    gl.glViewport(0, 0, width, height);

    std::vector<double> times;
    for (int n = 0; n < frames; ++n) {
        const auto start = std::chrono::steady_clock::now();
        drawFrame(gl, pipeline, 25'000 + n * 16, n, 0);
        platform::swapBuffers();
        endFrame(gl);
        gl.glFinish();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const platform::SurfaceResult surface = platform::openSurface(1280, 720, true);
    if (surface.status != platform::SurfaceStatus::ready) {
        std::fprintf(stderr, "no headless context: %s\n", surface.message.c_str());
        return 1;
    }
    GlApi gl;
    if (!loadGlApi(gl).ok) return 1;
    const GlVersion version = queryGlVersion(gl);
    std::printf("renderer: %s, OpenGL %s\n", version.renderer.c_str(), version.text.c_str());
    std::printf("median of %d frames, three passes, glFinish after each frame\n", frames);
    std::printf("%-12s %-10s %12s\n", "shaders", "size", "ms/frame");
    const struct {
        const char* name;
        ShaderSources sources;
    } sets[] = {
        {"pass-through", {passThroughScene, passThroughFeedback, passThroughPost}},
        {"show", builtInShaderSources()},
    };
    const int32_t sizes[][2] = {{640, 360}, {1280, 720}};
    for (const auto& set : sets) {
        for (const auto& size : sizes) {
            const double ms = medianFrameMs(gl, set.sources, size[0], size[1], frames);
            std::printf("%-12s %4dx%-5d %12.2f\n", set.name, size[0], size[1], ms);
        }
    }
    return 0;
}
