// The feedback shader, run from its embedded source: its derived time, the worked example of a
// pixel, the saturation and the decay of a black scene through the 8-bit store.
#include "shader_passes.h"
#include "support/gl_test_context.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace quarvel::test {
namespace {

// the shader's own initialiser, with the constants it may read (the timeline's), evaluated for a
// clock value given as a float
std::string derivedTimeFunction() {
    const std::string initialiser = globalInitialiser(shaders::feedbackSource, "time");
    if (initialiser.empty()) return "";
    std::string constants;
    std::istringstream source(shaders::feedbackSource);
    for (std::string line; std::getline(source, line);)
        if (line.rfind("const ", 0) == 0) constants += line + "\n";
    return constants + "float timeAt(int T) { return " + initialiser + "; }\n";
}

TEST(FeedbackGLTest, DerivedTimeChangesRateBetween20100And20200Milliseconds) {
    QUARVEL_REQUIRE_GL(gl);
    const std::string function = derivedTimeFunction();
    ASSERT_FALSE(function.empty());
    struct Case {
        int32_t t;
        float time;
    };
    const Case cases[] = {
        {-50, -0.0025f}, {0, 0.0f},     {10000, 0.5f},  {20100, 1.005f},
        {20200, 6.06f},  {30000, 9.0f}, {86000, 25.8f},
    };
    std::vector<Rgba> inputs;
    for (const Case& c : cases) inputs.push_back({static_cast<float>(c.t)});
    const auto result = evaluate(gl, function, inputs, "vec4(timeAt(int(x.x)))");
    ASSERT_EQ(result.size(), inputs.size());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_NEAR(result[i].r, cases[i].time, 1e-5f * std::max(1.0f, cases[i].time))
            << "T = " << cases[i].t;
    }
}

TEST(FeedbackGLTest, DerivedTimeNeverDecreasesAndReachesTheFirstMarkAt20194) {
    QUARVEL_REQUIRE_GL(gl);
    const std::string function = derivedTimeFunction();
    ASSERT_FALSE(function.empty());
    // every clock value of the run, -50 to 86,000 ms, one per texel
    constexpr int kColumns = 512;
    constexpr int kRows = (86051 + kColumns - 1) / kColumns;
    const std::string source = "#version 430\nlayout(location = 0) out vec4 oColor;\n" + function +
                               "void main()\n{\n    ivec2 c = ivec2(gl_FragCoord.xy);\n"
                               "    oColor = vec4(timeAt(c.y * " +
                               std::to_string(kColumns) + " + c.x - 50));\n}\n";
    const auto result = runHelper(gl, source, kColumns, kRows);
    ASSERT_EQ(result.size(), static_cast<std::size_t>(kColumns * kRows));
    const auto timeAt = [&](int32_t t) { return result[static_cast<std::size_t>(t + 50)].r; };
    for (int32_t t = -49; t <= 86000; ++t) {
        ASSERT_GE(timeAt(t), timeAt(t - 1)) << "T = " << t;
    }
    // the mark written 20.0*0.3 falls inside the jump
    EXPECT_LT(timeAt(20193), 6.0f);
    EXPECT_GE(timeAt(20194), 6.0f);
}

// One channel of the written image for a scene value S, a feedback sample P and the noise
// amount d, while the middle part is off.
// `exponent` is the decay exponent's factor before (1 - d): 0.96192 outside the middle part,
// 0.94188 inside it.
double written(double s, double p, double d, double exponent = 0.96192) {
    return 0.96 * std::pow(std::clamp(s + p - d, 0.0, 1.0), exponent * (1.0 - d));
}

TEST(FeedbackGLTest, WorkedExampleAt1920x1080) {
    QUARVEL_REQUIRE_GL(gl);
    // The scene is 0.5 everywhere. The previous image holds 0.2 in blue and alpha, and in red
    // and green ramps of its texel centres' v and u, so that the written value tells where the
    // displaced read landed.
    constexpr int kSide = 64;
    const FeedbackPass pass(gl);
    ShaderTarget scene(pass.gl, 4, 4, Storage::float32);
    scene.fill({0.5f, 0.5f, 0.5f, 0.5f});
    const auto ramp = [](double centre) { return 0.1 + 0.3 * centre; };
    std::vector<Rgba> texels;
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            texels.push_back({static_cast<float>(ramp((y + 0.5) / kSide)),
                              static_cast<float>(ramp((x + 0.5) / kSide)), 0.2f, 0.2f});
        }
    }
    ShaderTarget previous(pass.gl, kSide, kSide, Storage::float32);
    previous.upload(texels);

    struct Case {
        int32_t t;
        float value;  // of the uniform channels
        float d;
        float readU;  // where the read lands; left of the texture the edge texel answers
        float readV;
    };
    const Case cases[] = {
        {25000, 0.675f, 0.0088f, 0.5f / kSide, 0.100f},  // read at about (-0.070, 0.100)
        {-50, 0.677f, 0.0064f, 0.051f, 0.181f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("T = " + std::to_string(c.t));
        // only the corner of the window up to pixel (100, 200) is drawn
        const ShaderTarget exact(pass.gl, 101, 201, Storage::float32);
        pass.draw(exact, c.t, scene, previous, {1920.0f, 1080.0f});
        const Rgba p = exact.readFloats(100, 200, 1, 1)[0];
        EXPECT_NEAR(p.b, c.value, 1e-3f);
        EXPECT_EQ(p.a, p.b);

        // d from the uniform channel, then the sample behind red and green
        double low = 0.0;
        double high = 0.02;
        for (int i = 0; i < 60; ++i) {
            const double mid = 0.5 * (low + high);
            (written(0.5, 0.2, mid) > p.b ? low : high) = mid;
        }
        const double d = low;
        EXPECT_NEAR(d, c.d, 1e-4);
        const auto readAt = [&](float value) {
            const double sample = std::pow(value / 0.96, 1.0 / (0.96192 * (1.0 - d))) - 0.5 + d;
            return (sample - 0.1) / 0.3;
        };
        EXPECT_NEAR(readAt(p.g), c.readU, 2e-3);
        EXPECT_NEAR(readAt(p.r), c.readV, 2e-3);

        const ShaderTarget stored(pass.gl, 101, 201, Storage::unorm8);
        pass.draw(stored, c.t, scene, previous, {1920.0f, 1080.0f});
        const auto bytes = stored.readBytes();
        const uint8_t* q = &bytes[static_cast<std::size_t>(200 * 101 + 100) * 4];
        EXPECT_NEAR(q[2], c.value * 255.0f, 1.0);
        EXPECT_EQ(q[3], q[2]);
    }

    // Inside the middle part (30.6 to 40.5 s) the displacement falls back to 0.02 of the flow, so
    // the read stays within about 0.02 of the pixel's own texel, and the exponent's factor drops
    // to 0.94 x 1.002. Before and after it the read lands far off, as at 25 s.
    const struct {
        int32_t t;
        double exponent;
        bool nearOwnTexel;
    } parts[] = {{30000, 0.96192, false}, {35000, 0.94188, true}, {43000, 0.96192, false}};
    const double ownU = 100.5 / 1920.0;
    const double ownV = 200.5 / 1080.0;
    for (const auto& part : parts) {
        SCOPED_TRACE("T = " + std::to_string(part.t));
        const ShaderTarget exact(pass.gl, 101, 201, Storage::float32);
        pass.draw(exact, part.t, scene, previous, {1920.0f, 1080.0f});
        const Rgba p = exact.readFloats(100, 200, 1, 1)[0];
        double low = 0.0;
        double high = 0.02;
        for (int i = 0; i < 60; ++i) {
            const double mid = 0.5 * (low + high);
            (written(0.5, 0.2, mid, part.exponent) > p.b ? low : high) = mid;
        }
        const double d = low;
        EXPECT_GT(d, 1e-4) << "the noise amount lies within (0, 0.015)";
        EXPECT_LT(d, 0.015);
        const auto readAt = [&](float value) {
            const double sample = std::pow(value / 0.96, 1.0 / (part.exponent * (1.0 - d))) - 0.5 + d;
            return (sample - 0.1) / 0.3;
        };
        const double distance = std::hypot(readAt(p.g) - ownU, readAt(p.r) - ownV);
        if (part.nearOwnTexel) EXPECT_LT(distance, 0.025);
        else EXPECT_GT(distance, 0.05);
    }
}

TEST(FeedbackGLTest, SumsSaturateAt245AndSumsBelowTheNoiseAmountVanish) {
    QUARVEL_REQUIRE_GL(gl);
    struct Case {
        Rgba scene;
        Rgba previous;
        int32_t t;
        uint8_t written;
    };
    const Case cases[] = {
        {{1, 1, 1, 1}, {1, 1, 1, 1}, -50, 245},
        {{1, 1, 1, 1}, {1, 1, 1, 1}, 25000, 245},
        {{0.6f, 0.7f, 0.8f, 1}, {0.5f, 0.4f, 0.3f, 0.2f}, 35000, 245},  // middle part
        {{1, 1, 1, 1}, {1, 1, 1, 1}, 86000, 245},
        {{0, 0, 0, 0}, {0, 0, 0, 0}, 25000, 0},
        {{0, 0, 0, 0}, {0, 0, 0, 0}, 86000, 0},
    };
    const FeedbackPass pass(gl);
    ShaderTarget scene(pass.gl, 32, 18, Storage::unorm8);
    ShaderTarget previous(pass.gl, 32, 18, Storage::unorm8);
    const ShaderTarget written(pass.gl, 32, 18, Storage::unorm8);
    for (const Case& c : cases) {
        SCOPED_TRACE("T = " + std::to_string(c.t) + ", written " + std::to_string(c.written));
        scene.fill(c.scene);
        previous.fill(c.previous);
        pass.draw(written, c.t, scene, previous);
        for (const uint8_t byte : written.readBytes()) ASSERT_EQ(byte, c.written);
    }
}

TEST(FeedbackGLTest, BlackSceneDecaysWithinTheBoundsOfTheNoiseAmount) {
    QUARVEL_REQUIRE_GL(gl);
    // Each frame writes 0.96 (F - d)^e and the store rounds it to a step of 1/255. The noise
    // amount d lies in about [0.0013, 0.0137] and a larger d decays faster, so every pixel
    // stays between the two recurrences, with the neighbours that the displaced read blends in.
    const auto recurrence = [](double d, int frames) {
        int step = 245;
        for (int i = 0; i < frames; ++i) {
            step = static_cast<int>(std::lround(255.0 * written(0.0, step / 255.0, d)));
        }
        return step;
    };
    constexpr int kFrames = 120;
    constexpr int32_t kClock = 5000;
    const FeedbackPass pass(gl);
    ShaderTarget scene(pass.gl, 32, 18, Storage::unorm8);
    scene.fill({0, 0, 0, 0});
    ShaderTarget a(pass.gl, 32, 18, Storage::unorm8);
    ShaderTarget b(pass.gl, 32, 18, Storage::unorm8);
    a.fill({245 / 255.0f, 245 / 255.0f, 245 / 255.0f, 245 / 255.0f});
    ShaderTarget* read = &a;
    ShaderTarget* write = &b;
    std::vector<uint8_t> bytes;
    for (int frame = 1; frame <= kFrames; ++frame) {
        pass.draw(*write, kClock, scene, *read);
        std::swap(read, write);
        bytes = read->readBytes();
        const int slowest = recurrence(0.0010, frame);
        const int fastest = recurrence(0.0145, frame);
        for (const uint8_t byte : bytes) {
            ASSERT_LE(byte, slowest + 1) << "frame " << frame;
            ASSERT_GE(byte, fastest - 1) << "frame " << frame;
        }
    }
    // the store stops the decay short of black where d is small
    EXPECT_GT(*std::max_element(bytes.begin(), bytes.end()), 40);
}

}  // namespace
}  // namespace quarvel::test
