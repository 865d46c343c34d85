// The frame pipeline on a real headless context, with small shaders that write out what they
// receive: uniform values, which texture each pass reads, and which one it writes.
#include "render/frame_pipeline.h"
#include "render/render_targets.h"
#include "shaders/shader_interface.h"
#include "support/gl_test_context.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace quarvel {
namespace {

constexpr int32_t width = 32;
constexpr int32_t height = 16;

// Writes its uniforms, scaled to land on whole 8-bit steps. At t == 5 it discards the left half,
// so those pixels must keep what the frame before left there.
const std::string sceneProbe = test::standInSource(shaders::scene::uniformDeclarations, R"glsl(
out vec4 oColor;
void main() {
    if (t == 5 && gl_FragCoord.x < resolution.x * 0.5) discard;
    oColor = vec4(float(t) / 255.0, resolution.x / 255.0, resolution.y / 255.0, 1.0);
}
)glsl");

// Red: the scene texture's red (t). Green: the previous feedback green plus one step, so it
// counts the frames that were chained through the ping-pong. Blue, alpha: T and resolution.y.
const std::string feedbackProbe = test::standInSource(shaders::feedback::uniformDeclarations, R"glsl(
out vec4 oColor;
void main() {
    vec2 uv = gl_FragCoord.xy / resolution;
    oColor = vec4(texture(inputtex, uv).r, texture(feedback, uv).g + 1.0 / 255.0,
                  float(T) / 255.0 + texture(inputtex, uv).g * 0.0, resolution.y / 255.0);
}
)glsl");

// Shows the feedback texture's green and red, then its own uniforms.
const std::string postProbe = test::standInSource(shaders::post::uniformDeclarations, R"glsl(
out vec4 oColor;
void main() {
    vec4 f = texture(inputtex, gl_FragCoord.xy / resolution);
    oColor = vec4(f.g, f.r, float(T) / 255.0, resolution.x / 255.0);
}
)glsl");

struct Pixel {
    int r, g, b, a;
    bool operator==(const Pixel&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Pixel& p) {
    return out << "(" << p.r << ", " << p.g << ", " << p.b << ", " << p.a << ")";
}

Pixel pixelAt(const std::vector<unsigned char>& bytes, int x, int y) {
    const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 4;
    return {bytes[i], bytes[i + 1], bytes[i + 2], bytes[i + 3]};
}

class PipelineGlTest : public ::testing::Test {
protected:
    void SetUp() override {
        gl = test::sharedGl();
        ASSERT_NE(gl, nullptr) << test::glUnavailableReason();
        gl->glViewport(0, 0, width, height);
        const ProgramsResult programs = createPipeline(
            *gl, {sceneProbe.c_str(), feedbackProbe.c_str(), postProbe.c_str()}, width, height, pipeline);
        ASSERT_TRUE(programs.status.ok) << programs.status.message;
        output.emplace(*gl, width, height, test::Storage::unorm8);
    }

    void TearDown() override {
        if (gl == nullptr) return;
        test::expectNoGlError(*gl);
        output.reset();
        destroyPipeline(*gl, pipeline);
        gl->glViewport(0, 0, test::contextWidth, test::contextHeight);
    }

    void frame(int32_t t, int32_t n) {
        drawFrame(*gl, pipeline, t, n, output->framebuffer());
        endFrame(*gl);
    }

    std::vector<unsigned char> feedbackTexture(int slot) {
        return test::readBytes(*gl, pipeline.targets.feedbackFramebuffer, width, height,
                               pipeline.targets.feedbackAttachments[slot]);
    }

    std::vector<unsigned char> shown() { return output->readBytes(); }

    const test::TestGl* gl = nullptr;
    Pipeline pipeline;
    std::optional<test::ShaderTarget> output;
};

TEST_F(PipelineGlTest, FeedbackTexturesAlternateAndThePostPassShowsTheOneJustWritten) {
    // frame 0 reads texture 0, never written and zeroed, and writes texture 1
    frame(7, 0);
    EXPECT_EQ(pixelAt(feedbackTexture(0), 3, 3), (Pixel{0, 0, 0, 0}));
    EXPECT_EQ(pixelAt(feedbackTexture(1), 3, 3), (Pixel{7, 1, 7, height}));
    EXPECT_EQ(pixelAt(shown(), 3, 3), (Pixel{1, 7, 7, width}));

    // frame 1 reads texture 1 and writes texture 0; frame 2 the reverse again
    frame(9, 1);
    EXPECT_EQ(pixelAt(feedbackTexture(0), 3, 3), (Pixel{9, 2, 9, height}));
    EXPECT_EQ(pixelAt(shown(), 3, 3), (Pixel{2, 9, 9, width}));
    frame(11, 2);
    EXPECT_EQ(pixelAt(feedbackTexture(1), 20, 3), (Pixel{11, 3, 11, height}));
    EXPECT_EQ(pixelAt(shown(), 20, 3), (Pixel{3, 11, 11, width}));
}

TEST_F(PipelineGlTest, DiscardedScenePixelsKeepThePreviousFrame) {
    frame(1, 0);
    frame(5, 1);  // discards the left half of the scene
    const auto written = feedbackTexture(0);
    EXPECT_EQ(pixelAt(written, 3, 8).r, 1) << "a discarded pixel shows frame 0's scene";
    EXPECT_EQ(pixelAt(written, 25, 8).r, 5) << "the right half takes this frame's scene";
    const auto picture = shown();
    EXPECT_EQ(pixelAt(picture, 3, 8).g, 1) << "the post pass shows what the feedback made of it";
    EXPECT_EQ(pixelAt(picture, 25, 8).g, 5);
}

TEST_F(PipelineGlTest, EveryPassReceivesTheSameClockAndTheTargetSize) {
    frame(200, 0);
    const auto scene =
        test::readBytes(*gl, pipeline.targets.sceneFramebuffer, width, height, gl::COLOR_ATTACHMENT0);
    EXPECT_EQ(pixelAt(scene, 31, 15), (Pixel{200, width, height, 255}));
    EXPECT_EQ(pixelAt(feedbackTexture(1), 31, 15), (Pixel{200, 1, 200, height}));
    EXPECT_EQ(pixelAt(shown(), 31, 15), (Pixel{1, 200, 200, width}));
}

TEST(RenderTargetsGlTest, TexturesAreRgba8LinearClampedAndStartZeroed) {
    QUARVEL_REQUIRE_GL(gl);
    const RenderTargets targets = createRenderTargets(gl, width, height);
    const GLuint textures[] = {targets.sceneTexture, targets.feedbackTextures[0],
                               targets.feedbackTextures[1]};
    constexpr GLenum redSize = 0x805C;  // then green, blue and alpha sizes
    const struct {
        GLenum name;
        GLint value;
    } parameters[] = {{gl::TEXTURE_MIN_FILTER, gl::LINEAR},
                      {gl::TEXTURE_MAG_FILTER, gl::LINEAR},
                      {gl::TEXTURE_WRAP_S, gl::CLAMP_TO_EDGE},
                      {gl::TEXTURE_WRAP_T, gl::CLAMP_TO_EDGE}};
    for (GLuint texture : textures) {
        EXPECT_NE(texture, 0u);
        SCOPED_TRACE("texture " + std::to_string(texture));
        gl.glBindTexture(gl::TEXTURE_2D, texture);
        for (const auto& parameter : parameters) {
            GLint value = 0;
            gl.glGetTexParameteriv(gl::TEXTURE_2D, parameter.name, &value);
            EXPECT_EQ(value, parameter.value) << "parameter 0x" << std::hex << parameter.name;
        }
        for (GLenum channel = redSize; channel < redSize + 4; ++channel) {
            GLint bits = 0;
            gl.glGetTexLevelParameteriv(gl::TEXTURE_2D, 0, channel, &bits);
            EXPECT_EQ(bits, 8) << "channel " << channel - redSize;
        }
        gl.glBindTexture(gl::TEXTURE_2D, 0);
        const GLuint framebuffer =
            texture == targets.sceneTexture ? targets.sceneFramebuffer : targets.feedbackFramebuffer;
        const GLenum attachment =
            texture == targets.feedbackTextures[1] ? gl::COLOR_ATTACHMENT1 : gl::COLOR_ATTACHMENT0;
        const auto bytes = test::readBytes(gl, framebuffer, width, height, attachment);
        for (unsigned char b : bytes) ASSERT_EQ(b, 0);
    }
    gl.glBindFramebuffer(gl::FRAMEBUFFER, targets.feedbackFramebuffer);
    EXPECT_EQ(gl.glCheckFramebufferStatus(gl::FRAMEBUFFER), gl::FRAMEBUFFER_COMPLETE);
    test::expectNoGlError(gl);
}

TEST(ProgramsGlTest, CompileFailureStopsAtTheFirstBrokenShaderAfterAllWereBuilt) {
    QUARVEL_REQUIRE_GL(gl);
    const char* broken = "#version 430\nout vec4 oColor;\nvoid main() { oColor = undefinedName; }\n";
    const ProgramsResult sceneBroken = createPrograms(gl, {broken, broken, postProbe.c_str()});
    EXPECT_FALSE(sceneBroken.status.ok);
    EXPECT_STREQ(sceneBroken.failedShader, "scene") << "the feedback shader is never checked";
    EXPECT_NE(sceneBroken.shaderLog.find("undefinedName"), std::string::npos) << sceneBroken.shaderLog;
    EXPECT_NE(sceneBroken.programs.post, 0u) << "every program is created before any check";

    const ProgramsResult postBroken = createPrograms(gl, {sceneProbe.c_str(), feedbackProbe.c_str(), broken});
    EXPECT_FALSE(postBroken.status.ok);
    EXPECT_STREQ(postBroken.failedShader, "post");
    EXPECT_LE(postBroken.programLog.size(), 2046u);

    const ProgramsResult allGood =
        createPrograms(gl, {sceneProbe.c_str(), feedbackProbe.c_str(), postProbe.c_str()});
    EXPECT_TRUE(allGood.status.ok);
    test::expectNoGlError(gl);
}

TEST(ProgramsGlTest, BuiltInSourcesCompileOnTheContext) {
    QUARVEL_REQUIRE_GL(gl);
    const ProgramsResult programs = createPrograms(gl, builtInShaderSources());
    EXPECT_TRUE(programs.status.ok) << programs.status.message;
}

}  // namespace
}  // namespace quarvel
