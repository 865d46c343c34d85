// The post shader, run from its embedded source: the inverted threshold, the exchange of red and
// green, and the gamma, with the grain and flicker taken back out.
#include "shader_passes.h"
#include "support/gl_test_context.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>

namespace quarvel::test {
namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 36;

// The grain of every pixel at clock t: simplex noise at (q uv, 900 time), q growing with the
// window's diagonal so that the grain keeps its size in pixels.
std::vector<Rgba> grainAt(const test::TestGl& gl, int32_t t) {
    const std::string source =
        std::string("#version 430\nlayout(location = 0) out vec4 oColor;\n") + shaders::noiseSource +
        "const vec2 resolution = vec2(" + std::to_string(kWidth) + ".0, " + std::to_string(kHeight) +
        ".0);\nconst float time = float(" + std::to_string(t) + ") * 0.001;\n" + R"glsl(
void main()
{
    vec2 uv = gl_FragCoord.xy / resolution;
    float q = 900.0 * length(resolution) / length(vec2(1280.0, 720.0));
    oColor = vec4(simplex(vec3(q * uv.x, q * uv.y, 900.0 * time)));
}
)glsl";
    return runHelper(gl, source, kWidth, kHeight);
}

TEST(PostGLTest, UniformInputsGiveInvertedLevelsWithRedAndGreenExchanged) {
    QUARVEL_REQUIRE_GL(gl);
    // a dark channel passes every tap (1.04^(1/1.4) = 1.0284, then 0.985 x - 0.03 = 0.983),
    // a bright one none (0.04^(1/1.4) = 0.1003, then 0.069)
    constexpr float kDark = 0.98298f;
    constexpr float kBright = 0.06884f;
    struct Case {
        Rgba input;
        float expected[3];
    };
    const Case cases[] = {
        {{0, 0, 0, 1}, {kDark, kDark, kDark}},     {{1, 1, 1, 1}, {kBright, kBright, kBright}},
        {{0, 1, 1, 1}, {kBright, kDark, kBright}},  // red input shows as green
        {{1, 0, 1, 1}, {kDark, kBright, kBright}}, {{1, 1, 0, 1}, {kBright, kBright, kDark}},
    };
    const PostPass pass(gl);
    ShaderTarget input(pass.gl, kWidth, kHeight, Storage::unorm8);
    const ShaderTarget output(pass.gl, kWidth, kHeight, Storage::float32);
    // early clock values: the grain's third coordinate, 900 time, is still fine-grained there,
    // so the helper's grain matches the pass's to the last bits
    for (const int32_t t : {0, -50, 1234, 5555}) {
        const auto grain = grainAt(gl, t);
        ASSERT_EQ(grain.size(), static_cast<std::size_t>(kWidth * kHeight));
        const float time = static_cast<float>(t) * 0.001f;
        const float flicker = 1.0f + 0.006f * std::sin(time * 25.0f * 3.14159f);
        for (const Case& c : cases) {
            SCOPED_TRACE("T = " + std::to_string(t) + ", input (" + glslFloat(c.input.r) + ", " +
                         glslFloat(c.input.g) + ", " + glslFloat(c.input.b) + ")");
            input.fill(c.input);
            pass.draw(output, t, input);
            const auto pixels = output.readFloats();
            for (std::size_t i = 0; i < pixels.size(); ++i) {
                const Rgba& p = pixels[i];
                ASSERT_EQ(p.a, 1.0f);
                // undo the flicker, then the grain's mean of x (0.97 + 0.1 g) and x - 0.06 + 0.12 g
                const float g = grain[i].r;
                const float channels[3] = {p.r, p.g, p.b};
                for (int k = 0; k < 3; ++k) {
                    const float x = (channels[k] / flicker + 0.03f - 0.06f * g) / (0.985f + 0.05f * g);
                    ASSERT_NEAR(0.985f * x - 0.03f, c.expected[k], 5e-4f)
                        << "pixel " << i << " channel " << k;
                }
            }
        }
    }
}

TEST(PostGLTest, StoredPictureShowsTheExchangeThroughTheGrain) {
    QUARVEL_REQUIRE_GL(gl);
    const PostPass pass(gl);
    ShaderTarget input(pass.gl, kWidth, kHeight, Storage::unorm8);
    input.fill({0, 1, 1, 1});
    const ShaderTarget window(pass.gl, kWidth, kHeight, Storage::unorm8);
    pass.draw(window, 2000, input);
    const auto bytes = window.readBytes();
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        // the grain moves a level by at most about 0.11
        ASSERT_LE(bytes[i], 45);
        ASSERT_GE(bytes[i + 1], 220);
        ASSERT_LE(bytes[i + 2], 45);
        ASSERT_EQ(bytes[i + 3], 255);
    }
}

TEST(PostGLTest, ThePictureKeepsItsOrientation) {
    QUARVEL_REQUIRE_GL(gl);
    // black on one side, white on the other: the dark side shows light and stays where it was
    const PostPass pass(gl);
    ShaderTarget input(pass.gl, kWidth, kHeight, Storage::unorm8);
    const ShaderTarget window(pass.gl, kWidth, kHeight, Storage::unorm8);
    const struct {
        const char* name;
        bool (*dark)(int x, int y);
    } halves[] = {
        {"dark left half", [](int x, int) { return x < kWidth / 2; }},
        {"dark lower half", [](int, int y) { return y < kHeight / 2; }},
    };
    for (const auto& half : halves) {
        SCOPED_TRACE(half.name);
        std::vector<Rgba> texels;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                texels.push_back(half.dark(x, y) ? Rgba{0, 0, 0, 1} : Rgba{1, 1, 1, 1});
        input.upload(texels);
        pass.draw(window, 2000, input);
        const auto bytes = window.readBytes();
        // away from the border, where the taps' smear mixes the two sides
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const bool nearBorder = std::abs(x - kWidth / 2) < 4 || std::abs(y - kHeight / 2) < 4;
                if (nearBorder) continue;
                const uint8_t level = bytes[static_cast<std::size_t>(y * kWidth + x) * 4 + 2];
                if (half.dark(x, y)) ASSERT_GE(level, 220) << "pixel (" << x << ", " << y << ")";
                else ASSERT_LE(level, 45) << "pixel (" << x << ", " << y << ")";
            }
        }
    }
}

}  // namespace
}  // namespace quarvel::test
