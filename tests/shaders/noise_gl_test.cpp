// The simplex noise and its three-octave sum, run from the embedded noise text on the GL.
#include "shaders/shader_sources.h"
#include "support/gl_test_context.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>

namespace quarvel::test {
namespace {

TEST(NoiseGLTest, PermuteAndMod289MatchTheirPolynomial) {
    QUARVEL_REQUIRE_GL(gl);
    // permute is (34x^2 + x) mod 289; mod289 floors, so negative input also lands in [0, 289)
    const auto permuted = evaluate(gl, shaders::noiseSource, {{0, 1, 36, 173}}, "permute(x)");
    const auto reduced = evaluate(gl, shaders::noiseSource, {{-1, -289.5f, 578, 1000}}, "mod289(x)");
    ASSERT_EQ(permuted.size(), 1u);
    ASSERT_EQ(reduced.size(), 1u);
    EXPECT_EQ(permuted[0].r, 0.0f);
    EXPECT_EQ(permuted[0].g, 35.0f);
    EXPECT_EQ(permuted[0].b, 172.0f);
    EXPECT_EQ(permuted[0].a, 190.0f);
    EXPECT_EQ(reduced[0].r, 288.0f);
    EXPECT_EQ(reduced[0].g, 288.5f);
    EXPECT_EQ(reduced[0].b, 0.0f);
    EXPECT_EQ(reduced[0].a, 133.0f);
}

TEST(NoiseGLTest, SimplexAndFbm3GiveTheirReferenceValues) {
    QUARVEL_REQUIRE_GL(gl);
    struct Case {
        const char* what;
        Rgba v;  // position in r, g, b
        float simplex;
        float fbm3;  // NAN where no reference is known
        float tolerance;
    };
    const Case cases[] = {
        {"general position", {0.1f, 0.2f, 0.3f}, -0.4755f, -0.3176f, 5e-4f},
        {"negative coordinate", {1.5f, -2.25f, 3.125f}, -0.2860f, -0.4105f, 5e-4f},
        {"negative coordinate", {-0.7f, 0.35f, 2.0f}, 0.0452f, NAN, 5e-4f},
        // three-way tie: i1 = (0, 0, 0), i2 = (1, 1, 1), and not 0 at the origin
        {"tie at the origin", {0, 0, 0}, -0.412f, -0.412f, 1e-3f},
        {"just off the tie", {0.001f, 0, 0}, 0.00045f, NAN, 1e-4f},
        // along (a, a, a) the value flips sign where 2a passes a whole number
        {"before the flip", {0.4999f, 0.4999f, 0.4999f}, 0.212f, NAN, 1e-3f},
        {"after the flip", {0.5f, 0.5f, 0.5f}, -0.212f, NAN, 1e-3f},
    };
    std::vector<Rgba> inputs;
    for (const Case& c : cases) inputs.push_back(c.v);
    const auto result =
        evaluate(gl, shaders::noiseSource, inputs, "vec4(simplex(x.xyz), fbm3(x.xyz), 0.0, 0.0)");
    ASSERT_EQ(result.size(), inputs.size());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(std::string(c.what) + " at (" + glslFloat(c.v.r) + ", " + glslFloat(c.v.g) + ", " +
                     glslFloat(c.v.b) + ")");
        EXPECT_NEAR(result[i].r, c.simplex, c.tolerance);
        if (!std::isnan(c.fbm3)) {
            EXPECT_NEAR(result[i].g, c.fbm3, c.tolerance);
        }
    }
    // all three octaves of fbm3 sample the origin itself
    EXPECT_FLOAT_EQ(result[3].g, result[3].r);
}

TEST(NoiseGLTest, StaysFiniteAndWithinItsBoundOverALargeSweep) {
    QUARVEL_REQUIRE_GL(gl);
    // rows 0-47: scattered positions within +-300; rows 48-55: around 1e5, where the position
    // within a cell is coarse; rows 56-63: the diagonal (a, a, a), where the ties are
    const std::string source =
        std::string("#version 430\nlayout(location = 0) out vec4 oColor;\n") + shaders::noiseSource + R"glsl(
void main()
{
    vec2 c = floor(gl_FragCoord.xy);
    float k = c.y * 512.0 + c.x;
    vec3 v;
    if (c.y < 48.0)
        v = vec3(fract(k * 0.61803) * 600.0 - 300.0, fract(k * 0.41421) * 600.0 - 300.0,
                 fract(k * 0.73205) * 600.0 - 300.0);
    else if (c.y < 56.0)
        v = vec3(1.0e5 + k * 0.37, -1.0e5 + k * 0.11, 3.0e4 - k * 0.53);
    else
        v = vec3((k - 60.0 * 512.0) * 0.0371);
    oColor = vec4(simplex(v), fbm3(v), 0.0, 0.0);
}
)glsl";
    const auto result = runHelper(gl, source, 512, 64);
    ASSERT_EQ(result.size(), 512u * 64u);
    float largest = 0.0f;
    for (const Rgba& r : result) {
        ASSERT_TRUE(std::isfinite(r.r) && std::isfinite(r.g));
        largest = std::max({largest, std::fabs(r.r), std::fabs(r.g)});
    }
    EXPECT_LE(largest, 1.045f);
    // a sweep this size reaches well into the range; a noise stuck near 0 would not
    EXPECT_GE(largest, 0.8f);
}

}  // namespace
}  // namespace quarvel::test
