// The three shaders together: finite output at every clock value of the run, and a short run
// of the frame pipeline that repeats byte for byte.
#include "base/show_timeline.h"
#include "render/frame_pipeline.h"
#include "render/render_targets.h"
#include "shader_passes.h"
#include "support/gl_test_context.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quarvel::test {
namespace {

TEST(ShaderSourcesGLTest, EachProgramIsOneSourceWithTheNoiseAheadOfItsUse) {
    QUARVEL_REQUIRE_GL(gl);
    struct Case {
        const char* name;
        const char* source;
        bool usesNoise;
        const char* firstUse;  // the first function after the noise text
    };
    const Case cases[] = {
        {"scene", shaders::sceneSource, false, ""},
        {"feedback", shaders::feedbackSource, true, "void main()"},
        {"post", shaders::postSource, true, "vec2 co("},
    };
    const std::string noise = shaders::noiseSource;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string source = c.source;
        EXPECT_EQ(source.rfind("#version 430\n", 0), 0u);
        EXPECT_EQ(source.find("#include"), std::string::npos);
        const Program program(gl, source);
        EXPECT_TRUE(program.ok()) << program.log();
        const std::size_t at = source.find(noise);
        if (!c.usesNoise) {
            EXPECT_EQ(at, std::string::npos);
            continue;
        }
        ASSERT_NE(at, std::string::npos);
        EXPECT_EQ(source.find(noise, at + 1), std::string::npos);
        // after the declarations, before the first function that calls it
        EXPECT_LT(source.find("out vec4 oColor;"), at);
        EXPECT_LT(source.find("float time = "), at);
        EXPECT_GT(source.find(c.firstUse), at);
    }
}

// Every call `from` (a name with its opening parenthesis, not the tail of a longer name)
// replaced by `to`.
std::string replaceCalls(const std::string& text, std::string_view from, std::string_view to) {
    std::string result;
    std::size_t done = 0;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + from.size())) {
        const bool tail =
            at > 0 && (std::isalnum(static_cast<unsigned char>(text[at - 1])) || text[at - 1] == '_');
        if (tail) continue;
        result.append(text, done, at - done).append(to);
        done = at + from.size();
    }
    return result.append(text, done);
}

// The source with pow, clamp, max, smoothstep and texture replaced by versions that give NaN
// where the built-ins are undefined (pow of a negative base, or of 0 to a power <= 0) and that
// pass a NaN on. The software rasteriser's built-ins turn all of these into numbers (max, clamp
// and smoothstep return the operand that is not NaN, pow(x, 2.0) becomes x * x, pow of a NaN
// and a read at a NaN coordinate give numbers), so only this variant shows that a source relies
// on them.
std::string strictVariant(const char* source) {
    static const char* const kStrict = R"glsl(
float strictNaN() { return uintBitsToFloat(0x7fc00000u); }
float strictPow(float x, float y)
{
    return (isnan(x) || isnan(y) || x < 0.0 || (x == 0.0 && y <= 0.0)) ? strictNaN() : pow(x, y);
}
vec3 strictPow(vec3 x, vec3 y) { return vec3(strictPow(x.x, y.x), strictPow(x.y, y.y), strictPow(x.z, y.z)); }
vec4 strictPow(vec4 x, vec4 y) { return vec4(strictPow(x.xyz, y.xyz), strictPow(x.w, y.w)); }
float strictMax(float x, float y) { return (isnan(x) || isnan(y)) ? strictNaN() : max(x, y); }
vec3 strictMax(vec3 x, vec3 y) { return vec3(strictMax(x.x, y.x), strictMax(x.y, y.y), strictMax(x.z, y.z)); }
vec4 strictMax(vec4 x, float y) { return vec4(strictMax(x.xyz, vec3(y)), strictMax(x.w, y)); }
vec4 strictTexture(sampler2D s, vec2 c) { return (isnan(c.x) || isnan(c.y)) ? vec4(strictNaN()) : texture(s, c); }
float strictSmoothstep(float a, float b, float x) { return isnan(x) ? x : smoothstep(a, b, x); }
float strictClamp(float x, float a, float b) { return isnan(x) ? x : clamp(x, a, b); }
vec4 strictClamp(vec4 x, float a, float b)
{
    return vec4(strictClamp(x.x, a, b), strictClamp(x.y, a, b), strictClamp(x.z, a, b), strictClamp(x.w, a, b));
}
)glsl";
    const std::string text = source;
    const std::size_t body = text.find('\n') + 1;  // after the version line
    std::string rest = text.substr(body);
    for (const auto& [from, to] :
         {std::pair{"pow(", "strictPow("}, std::pair{"max(", "strictMax("},
          std::pair{"clamp(", "strictClamp("}, std::pair{"texture(", "strictTexture("},
          std::pair{"smoothstep(", "strictSmoothstep("}}) {
        rest = replaceCalls(rest, from, to);
    }
    return text.substr(0, body) + kStrict + rest;
}

// Every 100 ms of the run, and the clock values where something starts or ends.
std::vector<int32_t> clockValuesOfTheRun() {
    std::vector<int32_t> clock;
    for (int32_t t = -clockLagMs; t <= runLengthMs; t += 100) clock.push_back(t);
    // the scene's pulse events, on either side
    const int32_t cycle = clockMs(timeline::cycleSeconds);
    for (int32_t start = 0; start <= runLengthMs; start += cycle) {
        for (const double jump : {0.0, timeline::secondJumpSeconds, timeline::thirdJumpSeconds}) {
            for (const int32_t side : {-1, 0, 1}) clock.push_back(start + clockMs(jump) + side);
        }
    }
    // the feedback's rate change, the two frames between which its time passes 6.0, where its
    // displacement starts to grow, and the last seconds
    const int32_t cut = clockMs(timeline::swell.end);
    for (const int32_t t : {clockMs(timeline::feedbackSpeedUp.begin), 20193, 20194,
                            clockMs(timeline::feedbackSpeedUp.end), cut - 1, cut, runLengthMs})
        clock.push_back(t);
    return clock;
}

// Runs the three passes over the run's clock values on 8-bit targets, as the demo does, with a
// float copy of each pass's output in which a NaN or an infinity would show instead of being lost
// in the 8-bit store. Checks what every pass writes.
void expectFiniteOutputOverTheRun(const test::TestGl& gl, const ScenePass& scene,
                                  const FeedbackPass& feedback, const PostPass& post) {
    for (const Program* program : {&scene.program, &feedback.program, &post.program}) {
        ASSERT_TRUE(program->ok()) << program->log();
    }
    constexpr int kWidth = 16;
    constexpr int kHeight = 9;
    const ShaderTarget sceneStored(gl, kWidth, kHeight, Storage::unorm8);
    const ShaderTarget feedbackStored[2] = {{gl, kWidth, kHeight, Storage::unorm8},
                                            {gl, kWidth, kHeight, Storage::unorm8}};
    const ShaderTarget sceneExact(gl, kWidth, kHeight, Storage::float32);
    const ShaderTarget feedbackExact(gl, kWidth, kHeight, Storage::float32);
    const ShaderTarget postExact(gl, kWidth, kHeight, Storage::float32);

    int n = 0;
    for (const int32_t t : clockValuesOfTheRun()) {
        SCOPED_TRACE("t = " + std::to_string(t));
        const ShaderTarget& read = feedbackStored[n % 2];
        const ShaderTarget& written = feedbackStored[(n + 1) % 2];
        ++n;
        scene.draw(sceneStored, t);
        scene.draw(sceneExact, t);
        for (const Rgba& p : sceneExact.readFloats()) {
            ASSERT_TRUE(std::isfinite(p.r) && std::isfinite(p.g) && std::isfinite(p.b) && std::isfinite(p.a));
            ASSERT_GE(p.a, 0.0f);
            ASSERT_LE(p.a, 1.0f);
        }
        feedback.draw(written, t, sceneStored, read);
        feedback.draw(feedbackExact, t, sceneStored, read);
        for (const Rgba& p : feedbackExact.readFloats()) {
            for (const float c : {p.r, p.g, p.b, p.a}) {
                ASSERT_TRUE(std::isfinite(c));
                ASSERT_GE(c, 0.0f);
                ASSERT_LE(c, 0.96f);
            }
        }
        post.draw(postExact, t, written);
        for (const Rgba& p : postExact.readFloats()) {
            ASSERT_TRUE(std::isfinite(p.r) && std::isfinite(p.g) && std::isfinite(p.b));
            ASSERT_EQ(p.a, 1.0f);
        }
    }
}

TEST(ShaderPipelineGLTest, EveryPassWritesFiniteValuesAtEveryClockValue) {
    QUARVEL_REQUIRE_GL(gl);
    expectFiniteOutputOverTheRun(gl, ScenePass(gl), FeedbackPass(gl), PostPass(gl));
}

TEST(ShaderPipelineGLTest, NoPassReliesOnWhatTheDriverMakesOfUndefinedResults) {
    QUARVEL_REQUIRE_GL(gl);
    // the disc at s = 0, the squares of the wobble and the pulses' powers are where it would
    expectFiniteOutputOverTheRun(gl, ScenePass(gl, strictVariant(shaders::sceneSource)),
                                 FeedbackPass(gl, strictVariant(shaders::feedbackSource)),
                                 PostPass(gl, strictVariant(shaders::postSource)));
}

// The frame pipeline's own objects, released at the end of a run.
struct OwnedPipeline {
    const test::TestGl& gl;
    Pipeline pipeline;

    OwnedPipeline(const test::TestGl& api, int32_t width, int32_t height) : gl(api) {
        const ProgramsResult programs = createPipeline(gl, builtInShaderSources(), width, height, pipeline);
        EXPECT_TRUE(programs.status.ok) << programs.status.message;
    }

    ~OwnedPipeline() {
        gl.glBindFramebuffer(gl::FRAMEBUFFER, 0);
        destroyPipeline(gl, pipeline);
    }
};

// The window's pictures of the first frames, at about 50 frames a second from the first
// clock value, -50 ms.
std::vector<Rgba> runFirstFrames(const test::TestGl& gl, int32_t width, int32_t height, int frames) {
    const OwnedPipeline owned(gl, width, height);
    const ShaderTarget window(gl, width, height, Storage::float32);
    std::vector<Rgba> pictures;
    for (int32_t n = 0; n < frames; ++n) {
        window.bindForDrawing();  // the viewport of the window's size
        drawFrame(gl, owned.pipeline, -50 + 20 * n, n, window.framebuffer());
        endFrame(gl);
        const auto picture = window.readFloats();
        pictures.insert(pictures.end(), picture.begin(), picture.end());
    }
    gl.glBindFramebuffer(gl::FRAMEBUFFER, 0);
    return pictures;
}

TEST(ShaderPipelineGLTest, FirstFramesAreFiniteAndRepeatExactly) {
    QUARVEL_REQUIRE_GL(gl);
    constexpr int kFrames = 12;
    const auto first = runFirstFrames(gl, 64, 36, kFrames);
    const auto second = runFirstFrames(gl, 64, 36, kFrames);
    ASSERT_EQ(first.size(), static_cast<std::size_t>(64 * 36 * kFrames));
    ASSERT_EQ(second.size(), first.size());
    for (const Rgba& p : first) {
        ASSERT_TRUE(std::isfinite(p.r) && std::isfinite(p.g) && std::isfinite(p.b));
        ASSERT_EQ(p.a, 1.0f);
    }
    EXPECT_EQ(std::memcmp(first.data(), second.data(), first.size() * sizeof(Rgba)), 0);
    // the grain changes every frame, so consecutive pictures differ
    const std::size_t picture = 64 * 36;
    EXPECT_NE(std::memcmp(first.data(), first.data() + picture, picture * sizeof(Rgba)), 0);
}

}  // namespace
}  // namespace quarvel::test
