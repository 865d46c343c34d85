// Reading the context's version string, which decides whether the demo can run at all.
#include "render/gl_api.h"

#include <gtest/gtest.h>

namespace quarvel {
namespace {

TEST(GlVersionTest, ParsesTheLeadingMajorAndMinor) {
    struct Case {
        const char* text;
        int major;
        int minor;
        bool es;
    };
    const Case cases[] = {
        {"4.5 (Compatibility Profile) Mesa 22.3.6", 4, 5, false},
        {"4.3.0 NVIDIA 535.54", 4, 3, false},
        {"3.1 Mesa 20.0.8", 3, 1, false},
        {"OpenGL ES 3.2 Mesa 22.3.6", 3, 2, true},
        {"OpenGL ES 3.0 (WebGL 2.0 (OpenGL ES 3.0 Chromium))", 3, 0, true},
        {"10.12", 10, 12, false},
        {"", 0, 0, false},
        {"garbage", 0, 0, false},
        {"4", 0, 0, false},
        {"4.", 0, 0, false},
    };
    for (const Case& c : cases) {
        const GlVersion version = parseGlVersion(c.text);
        EXPECT_EQ(version.major, c.major) << c.text;
        EXPECT_EQ(version.minor, c.minor) << c.text;
        EXPECT_EQ(version.es, c.es) << c.text;
    }
    EXPECT_EQ(parseGlVersion(nullptr).major, 0);
}

TEST(GlVersionTest, TheSourcesNeedTheirOwnApiAtTheirVersionOrLater) {
    const shaders::GlslTarget desktop{false, 4, 3};
    const shaders::GlslTarget webgl2{true, 3, 0};
    const struct {
        const char* text;
        bool desktop;
        bool webgl2;
    } cases[] = {
        {"4.6 (Compatibility Profile) Mesa 22.3.6", true, false},
        {"4.3.0 NVIDIA 535.54", true, false},
        {"4.2 Mesa", false, false},
        {"OpenGL ES 3.2 Mesa 22.3.6", false, true},
        {"OpenGL ES 3.0 (WebGL 2.0)", false, true},
        {"OpenGL ES 2.0 (WebGL 1.0)", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(runsSourcesFor(parseGlVersion(c.text), desktop), c.desktop) << c.text;
        EXPECT_EQ(runsSourcesFor(parseGlVersion(c.text), webgl2), c.webgl2) << c.text;
    }
}

}  // namespace
}  // namespace quarvel
