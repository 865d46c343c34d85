// The capture loop on a real headless context, with probe shaders that write the clock they
// receive and count the frames chained through the feedback textures.
#include "capture/capture_loop.h"
#include "capture/frame_plan.h"
#include "render/render_targets.h"
#include "shaders/shader_interface.h"
#include "support/gl_test_context.h"

#include <gtest/gtest.h>

namespace quarvel {
namespace {

constexpr int32_t width = 24;
constexpr int32_t height = 10;

// the clock plus 1000 (never negative then) in red, green and blue, 8 bits each
const std::string sceneProbe = test::standInSource(shaders::scene::uniformDeclarations, R"glsl(
out vec4 oColor;
void main() {
    int v = t + 1000;
    oColor = vec4(float(v & 255), float((v >> 8) & 255), float((v >> 16) & 255), 0.0) / 255.0;
}
)glsl");

// alpha counts the frames chained through the ping-pong since the zeroed start
const std::string feedbackProbe = test::standInSource(shaders::feedback::uniformDeclarations, R"glsl(
out vec4 oColor;
void main() {
    vec2 uv = gl_FragCoord.xy / resolution;
    oColor = vec4(texture(inputtex, uv).rgb, texture(feedback, uv).a + 1.0 / 255.0);
}
)glsl");

const std::string postProbe = test::standInSource(shaders::post::uniformDeclarations, R"glsl(
out vec4 oColor;
void main() { oColor = texture(inputtex, gl_FragCoord.xy / resolution); }
)glsl");

struct SeenFrame {
    int32_t frame;
    int32_t clock;
    int chained;
    bool operator==(const SeenFrame&) const = default;
};

std::ostream& operator<<(std::ostream& out, const SeenFrame& f) {
    return out << "{frame " << f.frame << ", clock " << f.clock << ", chained " << f.chained << "}";
}

// Decodes every frame it gets; can raise the stop flag or fail at a chosen frame.
class RecordingSink : public FrameSink {
public:
    Status write(int32_t frame, const unsigned char* pixels) override {
        const unsigned char* p = pixels;
        const SeenFrame seen{frame, (p[0] | p[1] << 8 | p[2] << 16) - 1000, p[3]};
        for (std::size_t i = 0; i < std::size_t{width} * height * 4; ++i)
            if (pixels[i] != pixels[i % 4]) return failure("the frame is not uniform");
        frames.push_back(seen);
        if (frame == stopAt) stop = 1;
        if (frame == failAt) return failure("disk full");
        return success();
    }
    Status finish() override { return success(); }
    void abandon() override {}

    std::vector<SeenFrame> frames;
    int32_t stopAt = -1;
    int32_t failAt = -1;
    volatile std::sig_atomic_t stop = 0;
};

class CaptureLoopGlTest : public ::testing::Test {
protected:
    void SetUp() override {
        gl = test::sharedGl();
        ASSERT_NE(gl, nullptr) << test::glUnavailableReason();
    }
    void TearDown() override {
        if (gl == nullptr) return;
        test::expectNoGlError(*gl);
        gl->glViewport(0, 0, test::contextWidth, test::contextHeight);
    }

    // a fresh pipeline each time, as the tool makes one
    CaptureResult capture(const FramePlan& plan, RecordingSink& sink) {
        Pipeline pipeline;
        const ProgramsResult programs = createPipeline(
            *gl, {sceneProbe.c_str(), feedbackProbe.c_str(), postProbe.c_str()}, width, height, pipeline);
        EXPECT_TRUE(programs.status.ok) << programs.status.message;
        const CaptureResult result = runCapture(*gl, pipeline, plan, sink, &sink.stop, {});
        destroyPipeline(*gl, pipeline);
        return result;
    }

    const test::TestGl* gl = nullptr;
};

TEST_F(CaptureLoopGlTest, EveryFrameShowsItsPlannedClockAndWindowedFramesAreStillRendered) {
    CaptureOptions options;
    options.fps = 60;
    options.fromMs = 100;
    options.toMs = 300;
    options.outputKind = OutputKind::framePattern;
    const FramePlan plan = makeFramePlan(options).plan;
    RecordingSink sink;
    const CaptureResult result = capture(plan, sink);
    ASSERT_EQ(result.end, CaptureEnd::done) << result.message;

    std::vector<SeenFrame> expected;
    for (int32_t n = plan.firstWritten; n < static_cast<int32_t>(plan.clocks.size()); ++n)
        expected.push_back({n, captureClock(n, 60), n + 1});
    EXPECT_EQ(sink.frames, expected);
    EXPECT_EQ(result.framesRendered, 22);
    EXPECT_EQ(result.framesWritten, 13);
}

TEST_F(CaptureLoopGlTest, ClockListsAndPlansShorterThanTheReadbackRing) {
    const struct {
        std::vector<int32_t> clocks;
        int32_t firstWritten;
    } cases[] = {
        {{500, -50, 86'000, 0, 7}, 0},
        {{42}, 0},
        {{1, 2}, 0},
        {{1, 2, 3, 4}, 3},
        {{1, 2, 3}, 3},  // nothing written: rendered only
    };
    for (const auto& c : cases) {
        RecordingSink sink;
        const CaptureResult result = capture({c.clocks, c.firstWritten}, sink);
        ASSERT_EQ(result.end, CaptureEnd::done) << result.message;
        std::vector<SeenFrame> expected;
        for (int32_t n = c.firstWritten; n < static_cast<int32_t>(c.clocks.size()); ++n)
            expected.push_back({n, c.clocks[n], n + 1});
        EXPECT_EQ(sink.frames, expected);
    }
}

TEST_F(CaptureLoopGlTest, AStopRequestOrASinkFailureEndsTheCaptureBetweenFrames) {
    const FramePlan plan{std::vector<int32_t>(40, 0), 0};
    RecordingSink stopped;
    stopped.stopAt = 3;
    const CaptureResult interrupted = capture(plan, stopped);
    EXPECT_EQ(interrupted.end, CaptureEnd::interrupted);
    EXPECT_LE(interrupted.framesRendered, 3 + readbackRingSize);
    EXPECT_EQ(stopped.frames.back().frame, 3) << "no frame is handed over after the request";

    RecordingSink failing;
    failing.failAt = 5;
    const CaptureResult failed = capture(plan, failing);
    EXPECT_EQ(failed.end, CaptureEnd::failed);
    EXPECT_EQ(failed.message, "disk full");
    EXPECT_EQ(failed.framesWritten, 5);
}

}  // namespace
}  // namespace quarvel
