// Prints the milliseconds each of the three passes takes per frame on the headless context, at
// 640 x 360 and 1280 x 720 or the sizes given, and each pass's share of the frame: once with
// pass-through shaders (the cost of the pipeline itself) and once with the show's own. Each pass's
// time is measured twice: on the CPU's clock, waiting for the GL after it, and by the GL itself
// (a timer query), which on a GPU leaves out the driver's own work on the CPU.
// Usage: quarvel-bench-pipeline [FRAMES [WIDTHxHEIGHT...]]
#include "base/picture_size.h"
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

// The timer queries, which the demo's tables leave out.
#define BENCH_QUERY_FUNCTIONS(X)                             \
    X(void, glGenQueries, (GLsizei n, GLuint * ids))         \
    X(void, glDeleteQueries, (GLsizei n, const GLuint* ids)) \
    X(void, glBeginQuery, (GLenum target, GLuint id))        \
    X(void, glEndQuery, (GLenum target))                     \
    X(void, glGetQueryObjectui64v, (GLuint id, GLenum pname, GLuint64 * params))

struct TimerQueries {
    BENCH_QUERY_FUNCTIONS(QUARVEL_GL_MEMBER)
    GLuint ids[3] = {};
};
constexpr GLenum timeElapsed = 0x88BF;
constexpr GLenum queryResult = 0x8866;

Status loadTimerQueries(TimerQueries& table) {
    std::string missing;
    BENCH_QUERY_FUNCTIONS(QUARVEL_GL_LOAD)
    if (!missing.empty()) return failure("no timer queries: " + missing);
    table.glGenQueries(3, table.ids);
    return success();
}

// Per pass, in milliseconds: on the CPU's clock and on the GL's
struct PassTimes {
    std::vector<double> cpu[3];
    std::vector<double> gl[3];
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Runs the passes of frame n as the demo does, waiting for the GL after each so that its time
// can be read alone.
void timeFrame(const OffscreenGl& gl, const TimerQueries& queries, const Pipeline& pipeline, int32_t t,
               int32_t n, PassTimes& times) {
    const FeedbackSlots slots = feedbackSlots(n);
    const auto passes = {
        +[](const OffscreenGl& g, const Pipeline& p, int32_t time, const FeedbackSlots&) {
            drawScenePass(g, p, time);
        },
        +[](const OffscreenGl& g, const Pipeline& p, int32_t time, const FeedbackSlots& s) {
            drawFeedbackPass(g, p, time, s);
        },
        +[](const OffscreenGl& g, const Pipeline& p, int32_t time, const FeedbackSlots& s) {
            drawPostPass(g, p, time, s, 0);
        },
    };
    gl.glFinish();
    int pass = 0;
    for (const auto draw : passes) {
        const auto start = Clock::now();
        queries.glBeginQuery(timeElapsed, queries.ids[pass]);
        draw(gl, pipeline, t, slots);
        queries.glEndQuery(timeElapsed);
        gl.glFinish();
        times.cpu[pass].push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        GLuint64 nanoseconds = 0;
        queries.glGetQueryObjectui64v(queries.ids[pass], queryResult, &nanoseconds);
        times.gl[pass].push_back(static_cast<double>(nanoseconds) / 1e6);
        ++pass;
    }
    endFrame(gl);
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    std::vector<PictureSize> sizes;
    for (int i = 2; i < argc; ++i) {
        PictureSize size;
        if (parsePictureSize(argv[i], size) != PictureSizeParse::ok) {
            std::fprintf(stderr, "usage: quarvel-bench-pipeline [FRAMES [WIDTHxHEIGHT...]]; not '%s'\n",
                         argv[i]);
            return 2;
        }
        sizes.push_back(size);
    }
    if (sizes.empty()) sizes = {{640, 360}, {1280, 720}};
    OffscreenGl gl;
    TimerQueries queries;
    // the post pass draws into the default framebuffer, which must hold the largest picture
    PictureSize largest{1, 1};
    for (const PictureSize& size : sizes)
        largest = {std::max(largest.width, size.width), std::max(largest.height, size.height)};
    if (!bringUpBenchmarkGl(gl, largest.width, largest.height)) return 1;
    if (Status loaded = loadTimerQueries(queries); !loaded.ok) {
        std::fprintf(stderr, "%s\n", loaded.message.c_str());
        return 1;
    }
    std::printf("median of %d frames from 25 s of the clock, glFinish after each pass; ms on the CPU's\n",
                frames);
    std::printf("clock, then on the GL's (timer queries)\n");
    std::printf("%-23s %15s %15s %15s %15s   %s\n", "", "scene", "feedback", "post", "frame", "shares (GL)");
    std::printf("%-12s %-10s", "shaders", "size");
    for (int column = 0; column < 4; ++column) std::printf(" %7s %7s", "CPU", "GL");
    std::printf("\n");

    const struct {
        const char* name;
        ShaderSources sources;
    } sets[] = {
        {"pass-through", {passThroughScene.c_str(), passThroughFeedback.c_str(), passThroughPost.c_str()}},
        {"show", builtInShaderSources()},
    };
    for (const auto& set : sets) {
        for (const PictureSize& size : sizes) {
            Pipeline pipeline;
            const ProgramsResult programs =
                createPipeline(gl, set.sources, size.width, size.height, pipeline);
            if (!programs.status.ok) {
                std::fprintf(stderr, "%s\n", programs.status.message.c_str());
                return 1;
            }
            gl.glViewport(0, 0, size.width, size.height);

            // the first frames also compile the shaders' machine code; they are not counted
            PassTimes warmUp;
            for (int32_t n = 0; n < 3; ++n) timeFrame(gl, queries, pipeline, 25'000 - 48 + n * 16, n, warmUp);
            PassTimes times;
            for (int32_t n = 0; n < frames; ++n)
                timeFrame(gl, queries, pipeline, 25'000 + n * 16, n + 3, times);

            double cpu[4] = {}, glTime[4] = {};
            for (int pass = 0; pass < 3; ++pass) {
                cpu[pass] = median(times.cpu[pass]);
                glTime[pass] = median(times.gl[pass]);
                cpu[3] += cpu[pass];
                glTime[3] += glTime[pass];
            }
            std::printf("%-12s %4dx%-5d", set.name, size.width, size.height);
            for (int column = 0; column < 4; ++column)
                std::printf(" %7.2f %7.2f", cpu[column], glTime[column]);
            std::printf("   %.0f%% / %.0f%% / %.0f%%\n", 100.0 * glTime[0] / glTime[3],
                        100.0 * glTime[1] / glTime[3], 100.0 * glTime[2] / glTime[3]);
            destroyPipeline(gl, pipeline);
        }
    }
    return 0;
}
