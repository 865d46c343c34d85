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
    };
    const Case cases[] = {
        {"4.5 (Compatibility Profile) Mesa 22.3.6", 4, 5},
        {"4.3.0 NVIDIA 535.54", 4, 3},
        {"3.1 Mesa 20.0.8", 3, 1},
        {"OpenGL ES 3.2 Mesa 22.3.6", 3, 2},
        {"10.12", 10, 12},
        {"", 0, 0},
        {"garbage", 0, 0},
        {"4", 0, 0},
        {"4.", 0, 0},
    };
    for (const Case& c : cases) {
        const GlVersion version = parseGlVersion(c.text);
        EXPECT_EQ(version.major, c.major) << c.text;
        EXPECT_EQ(version.minor, c.minor) << c.text;
    }
    EXPECT_EQ(parseGlVersion(nullptr).major, 0);
}

}  // namespace
}  // namespace quarvel
