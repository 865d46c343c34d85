// Prints the milliseconds each of the three passes takes per frame on the headless context, at
// 640 x 360 and 1280 x 720, and each pass's share of the frame: once with pass-through shaders
// (the cost of the pipeline itself) and once with the show's own.
// Usage: quarvel-bench-pipeline [frames]
#include "bench_gl.h"
#include "render/frame_pipeline.h"
#include "render/gl_api.h"
#include "render/render_targets.h"
#include "shaders/shader_interface.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace quarvel;

using Clock = std::chrono::steady_clock;

// The program's own uniforms ahead of a body that does next to nothing.
std::string passThrough(const char* uniformDeclarations, const char* body) {
    return std::string("#version 430\n") + uniformDeclarations + "out vec4 oColor;\n" + body;
}

const std::string passThroughScene =
    passThrough(shaders::scene::uniformDeclarations,
                "void main() { oColor = vec4(gl_FragCoord.xy / resolution, float(t) * 0.001, 1.0); }\n");
const std::string passThroughFeedback =
    passThrough(shaders::feedback::uniformDeclarations, R"glsl(void main() {
    vec2 uv = gl_FragCoord.xy / resolution;
    oColor = texture(inputtex, uv) * 0.5 + texture(feedback, uv) * 0.5;
}
)glsl");
const std::string passThroughPost =
    passThrough(shaders::post::uniformDeclarations,
                "void main() { oColor = texture(inputtex, gl_FragCoord.xy / resolution); }\n");

struct PassTimes {
    std::vector<double> scene;
    std::vector<double> feedback;
    std::vector<double> post;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Runs the passes of frame n as the demo does, waiting for the GL after each so that its time
// can be read alone.
void timeFrame(const OffscreenGl& gl, const Pipeline& pipeline, int32_t t, int32_t n, PassTimes& times) {
    const FeedbackSlots slots = feedbackSlots(n);
    const auto since = [](Clock::time_point start) {
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };

    gl.glFinish();
    auto start = Clock::now();
    drawScenePass(gl, pipeline, t);
    gl.glFinish();
    times.scene.push_back(since(start));

    start = Clock::now();
    drawFeedbackPass(gl, pipeline, t, slots);
    gl.glFinish();
    times.feedback.push_back(since(start));

    start = Clock::now();
    drawPostPass(gl, pipeline, t, slots, 0);
    gl.glFinish();
    times.post.push_back(since(start));
    endFrame(gl);
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    OffscreenGl gl;
    if (!bringUpBenchmarkGl(gl, 1280, 720)) return 1;
    std::printf("median of %d frames from 25 s of the clock, glFinish after each pass\n", frames);
    std::printf("%-12s %-10s %10s %10s %10s %10s   %s\n", "shaders", "size", "scene", "feedback", "post",
                "frame", "shares scene/feedback/post");

    const struct {
        const char* name;
        ShaderSources sources;
    } sets[] = {
        {"pass-through", {passThroughScene.c_str(), passThroughFeedback.c_str(), passThroughPost.c_str()}},
        {"show", builtInShaderSources()},
    };
    const int32_t sizes[][2] = {{640, 360}, {1280, 720}};
    for (const auto& set : sets) {
        for (const auto& size : sizes) {
            Pipeline pipeline;
            const ProgramsResult programs = createPipeline(gl, set.sources, size[0], size[1], pipeline);
            if (!programs.status.ok) {
                std::fprintf(stderr, "%s\n", programs.status.message.c_str());
                return 1;
            }
            gl.glViewport(0, 0, size[0], size[1]);

            // the first frames also compile the shaders' machine code; they are not counted
            PassTimes warmUp;
            for (int32_t n = 0; n < 3; ++n) timeFrame(gl, pipeline, 25'000 - 48 + n * 16, n, warmUp);
            PassTimes times;
            for (int32_t n = 0; n < frames; ++n) timeFrame(gl, pipeline, 25'000 + n * 16, n + 3, times);

            const double scene = median(times.scene);
            const double feedback = median(times.feedback);
            const double post = median(times.post);
            const double frame = scene + feedback + post;
            std::printf("%-12s %4dx%-5d %10.2f %10.2f %10.2f %10.2f   %.0f%% / %.0f%% / %.0f%%\n", set.name,
                        size[0], size[1], scene, feedback, post, frame, 100.0 * scene / frame,
                        100.0 * feedback / frame, 100.0 * post / frame);
            destroyPipeline(gl, pipeline);
        }
    }
    return 0;
}
