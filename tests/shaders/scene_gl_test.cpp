// The scene shader, run from its embedded source: its hashes, the disc it draws along the
// timeline, its holes, and the last seconds of the show.
#include "shader_passes.h"
#include "support/gl_test_context.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <string>

namespace quarvel::test {
namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 36;

// --- a single-precision model of the disc, written from the scene's description ---------------

float fract(float x) {
    return x - std::floor(x);
}

float hash12(float x, float y) {
    float p[3] = {fract(x * 0.1031f), fract(y * 0.1031f), fract(x * 0.1031f)};
    const float d = p[0] * (p[1] + 9.0f) + p[1] * (p[2] + 9.0f) + p[2] * (p[0] + 9.0f);
    for (float& c : p) c += d;
    return fract((p[0] + p[1]) * p[2]);
}

struct Vec2 {
    float x;
    float y;
};

Vec2 hash21(float v) {
    float p[3] = {fract(v * 0.1031f), fract(v * 0.1030f), fract(v * 0.0973f)};
    const float d = p[0] * (p[1] + 19.19f) + p[1] * (p[2] + 19.19f) + p[2] * (p[0] + 19.19f);
    for (float& c : p) c += d;
    return {fract((p[0] + p[1]) * p[2]), fract((p[0] + p[2]) * p[1])};
}

// Before the fade of the last seconds: a disc centred at (1.8 h.x, h.y) of radius 1/s in
// height-normalised units, valued sqrt(0.1 (1 - s d)).
struct Disc {
    Vec2 centre;
    float s;

    Disc(float qt, float stre) {
        const Vec2 h = hash21(qt);
        centre = {1.8f * h.x, h.y};
        // noise at a lattice point is the hash of that point
        const float n = std::max(0.0f, hash12(std::round(qt), std::round(-qt)));
        s = (1.6f + 7.0f * n * n * n) * std::sqrt(stre);
    }

    float valueAtPixel(int x, int y) const {
        const float dx = (static_cast<float>(x) + 0.5f) / kHeight - centre.x;
        const float dy = (static_cast<float>(y) + 0.5f) / kHeight - centre.y;
        return std::sqrt(0.1f * std::max(0.0f, 1.0f - s * std::hypot(dx, dy)));
    }
};

std::vector<Rgba> render(const ScenePass& pass, int32_t t) {
    const ShaderTarget target(pass.gl, kWidth, kHeight, Storage::float32);
    pass.draw(target, t);
    return target.readFloats();
}

TEST(SceneGLTest, HashesGiveTheirSampleValues) {
    QUARVEL_REQUIRE_GL(gl);
    const std::string source = shaders::sceneSource;
    const std::string functions = functionText(source, "float hash12(") +
                                  functionText(source, "float hash13(") +
                                  functionText(source, "vec2 hash21(") + functionText(source, "float noise(");
    ASSERT_FALSE(functions.empty());
    struct Case {
        const char* call;
        Rgba x;
        float expected[2];
    };
    const Case cases[] = {
        {"hash12", {1, 0}, {0.5550f, 0}},
        {"hash12", {0, 1}, {0.8177f, 0}},
        {"hash12", {0, 0}, {0.0f, 0}},
        {"hash13", {1, 0, 0}, {0.0328f, 0}},
        {"hash21", {1}, {0.8786f, 0.9126f}},
        {"hash21", {0}, {0.0f, 0.0f}},
        // at a lattice point the value noise is the hash of that point
        {"noise", {0, 0}, {0.0f, 0}},
        {"noise", {1, 0}, {0.5550f, 0}},
        {"noise", {0, 1}, {0.8177f, 0}},
    };
    std::vector<Rgba> inputs;
    for (const Case& c : cases) inputs.push_back(c.x);
    // the call is chosen by the input's index, so one draw serves the whole table
    std::string expression = "vec4(0.0)";
    for (int i = static_cast<int>(std::size(cases)) - 1; i >= 0; --i) {
        const std::string call = cases[i].call;
        const std::string value = call == "hash21"   ? "vec4(hash21(x.x), 0.0, 0.0)"
                                  : call == "hash13" ? "vec4(hash13(x.xyz))"
                                                     : "vec4(" + call + "(x.xy))";
        expression =
            "(int(gl_FragCoord.x) == " + std::to_string(i) + " ? " + value + " : " + expression + ")";
    }
    const auto result = evaluate(gl, functions, inputs, expression);
    ASSERT_EQ(result.size(), inputs.size());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(std::string(cases[i].call) + " case " + std::to_string(i));
        EXPECT_NEAR(result[i].r, cases[i].expected[0], 1e-4f);
        if (std::string(cases[i].call) == "hash21") {
            EXPECT_NEAR(result[i].g, cases[i].expected[1], 1e-4f);
        }
    }
}

TEST(SceneGLTest, DiscFollowsQtAndPulsesWithDisptime) {
    QUARVEL_REQUIRE_GL(gl);
    struct Case {
        int32_t t;
        float qt;  // places and sizes the disc
        float stre;
        float disptime;  // sum of the three pulses (1 from 62 s)
    };
    const Case cases[] = {
        {-50, 0.0f, 0.2f, 0.08136f},  // first frame: centred on the lower-left corner
        {0, 0.0f, 0.2f, 1.07808f},    // the first event-A pulse starts
        {2000, 36.576f, 0.2f, 0.52821f}, {4500, 72.136f, 0.2f, 0.94990f},
        {6000, 162.56f, 0.2f, 1.12315f}, {65000, 1047.496f, 1.0f, 1.0f},
    };
    const ScenePass pass(gl);
    for (const Case& c : cases) {
        SCOPED_TRACE("t = " + std::to_string(c.t));
        const auto pixels = render(pass, c.t);
        const Disc disc(c.qt, c.stre);
        float worst = 0.0f;
        int speckled = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const Rgba& p = pixels[static_cast<std::size_t>(y * kWidth + x)];
                const float expected = disc.valueAtPixel(x, y) * c.disptime * c.stre;
                worst = std::max(worst, std::fabs(p.a - expected));
                // grey, darkened by at most the speckle's strength, which alpha does not see
                ASSERT_EQ(p.r, p.g);
                ASSERT_EQ(p.r, p.b);
                ASSERT_LE(p.r, p.a + 1e-6f);
                ASSERT_GE(p.r, p.a - 0.25f - 1e-6f);
                if (p.r < p.a - 0.01f) ++speckled;
            }
        }
        // a disc in the wrong place, of the wrong size or strength is off by a large part of it
        EXPECT_LE(worst, 0.02f * c.disptime * c.stre);
        EXPECT_GT(speckled, 0);
    }
}

TEST(SceneGLTest, FirstFrameStoresTheDiscInAlphaAndTheSpeckleOnlyInColour) {
    QUARVEL_REQUIRE_GL(gl);
    // the 8-bit target as the demo has it, at clock 0
    const ScenePass pass(gl);
    const ShaderTarget target(pass.gl, kWidth, kHeight, Storage::unorm8);
    pass.draw(target, 0);
    const auto bytes = target.readBytes();
    const Disc disc(0.0f, 0.2f);
    int speckled = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const uint8_t* p = &bytes[static_cast<std::size_t>(y * kWidth + x) * 4];
            const float expected = disc.valueAtPixel(x, y) * 1.07808f * 0.2f * 255.0f;
            ASSERT_NEAR(p[3], expected, 1.0) << "pixel " << x << ", " << y;
            ASSERT_EQ(p[0], p[1]);
            ASSERT_EQ(p[0], p[2]);
            ASSERT_LE(p[0], p[3]);
            if (p[0] < p[3]) ++speckled;
        }
    }
    EXPECT_GT(speckled, kWidth * kHeight / 10);
}

TEST(SceneGLTest, HolesOpenOnlyInTheGlitchPeriods) {
    QUARVEL_REQUIRE_GL(gl);
    struct Case {
        int32_t t;
        bool holes;
    };
    const Case cases[] = {
        {-50, false},   {0, false},     {6000, false},  {8000, false},  {8400, false},
        {12000, true},  {19300, false}, {25000, false}, {30500, false}, {35000, true},
        {40600, false}, {45000, false}, {62000, false}, {81000, false}, {86000, false},
    };
    // a colour the grey scene never writes
    const Rgba earlier{0.25f, 0.5f, 0.75f, 1.0f};
    const ScenePass pass(gl);
    ShaderTarget target(pass.gl, kWidth, kHeight, Storage::unorm8);
    for (const Case& c : cases) {
        SCOPED_TRACE("t = " + std::to_string(c.t));
        target.fill(earlier);
        pass.draw(target, c.t);
        const auto bytes = target.readBytes();
        int kept = 0;
        for (std::size_t i = 0; i < bytes.size(); i += 4) {
            if (bytes[i] != bytes[i + 1]) {
                ++kept;
                // a hole keeps the earlier colour whole
                ASSERT_EQ(bytes[i], 64);
                ASSERT_EQ(bytes[i + 1], 128);
                ASSERT_EQ(bytes[i + 2], 191);
                ASSERT_EQ(bytes[i + 3], 255);
            }
        }
        const int all = kWidth * kHeight;
        if (c.holes) {
            // the envelope is 1 there: about a fifth of the pixels are holes
            EXPECT_GT(kept, all / 10);
            EXPECT_LT(kept, all * 3 / 10);
        } else {
            EXPECT_EQ(kept, 0);
        }
    }
}

TEST(SceneGLTest, LastSecondsEndInAnEmptyDiscWithoutNaN) {
    QUARVEL_REQUIRE_GL(gl);
    const ScenePass pass(gl);
    // just before 82 s the disc covers the target at nearly its limit, sqrt(0.1) * 3
    for (const int32_t t : {81000, 81900, 81999}) {
        SCOPED_TRACE("t = " + std::to_string(t));
        for (const Rgba& p : render(pass, t)) {
            ASSERT_TRUE(std::isfinite(p.r) && std::isfinite(p.a));
            ASSERT_GE(p.a, 0.0f);
            ASSERT_LE(p.a, 0.95f);
            if (t >= 81900) {
                ASSERT_GE(p.a, 0.93f);
            }
        }
    }
    // from 82 s the size factor is exactly 0: the disc value is 0 and so is the speckle
    for (const int32_t t : {82000, 83000, 84500, 86000}) {
        SCOPED_TRACE("t = " + std::to_string(t));
        for (const Rgba& p : render(pass, t)) {
            ASSERT_EQ(p.r, 0.0f);
            ASSERT_EQ(p.g, 0.0f);
            ASSERT_EQ(p.b, 0.0f);
            ASSERT_EQ(p.a, 0.0f);
        }
    }
}

}  // namespace
}  // namespace quarvel::test
