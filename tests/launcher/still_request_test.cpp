// The browser's still mode reads its clock and size from the page's address: what it accepts and
// the one line it gives for each mistake.
#include "launcher/still_request.h"

#include <gtest/gtest.h>
#include <string>

namespace quarvel {
namespace {

TEST(StillRequestTest, AcceptsWholeClocksAndPositiveSizes) {
    const struct {
        const char* clock;
        const char* size;
        StillRequest expected;
    } cases[] = {
        {"25000", "640x360", {25000, 640, 360}},
        {"-50", "1x1", {-50, 1, 1}},
        {"2147483647", "65536x65536", {2147483647, 65536, 65536}},
        {"0", "", {0, 1920, 1080}},
    };
    for (const auto& c : cases) {
        const StillRequestResult parsed = parseStillRequest(c.clock, c.size);
        ASSERT_TRUE(parsed.status.ok) << c.clock << " " << c.size << ": " << parsed.status.message;
        EXPECT_EQ(parsed.request.clock, c.expected.clock) << c.clock;
        EXPECT_EQ(parsed.request.width, c.expected.width) << c.size;
        EXPECT_EQ(parsed.request.height, c.expected.height) << c.size;
    }
}

TEST(StillRequestTest, RefusesWithOneLineNamingTheParameter) {
    const struct {
        const char* clock;
        const char* size;
        const char* message;
    } cases[] = {
        {"", "640x360", "still=: the clock must be a whole number of milliseconds"},
        {"2.5", "640x360", "still=2.5: the clock must be a whole number"},
        {"2147483648", "640x360", "still=2147483648: the clock must be a whole number"},
        {"1000", "0x360", "size=0x360: the width and height must be positive whole numbers"},
        {"1000", "640x-1", "size=640x-1: the width and height must be positive"},
        {"1000", "640", "size=640: the width and height must be positive"},
        {"1000", "640x360x2", "size=640x360x2: the width and height must be positive"},
        {"1000", "+640x360", "size=+640x360: the width and height must be positive"},
        {"1000", "65537x100", "size=65537x100: a side of more than 65536 pixels is too large"},
        {"1000", "99999999999999999999x1", "size=99999999999999999999x1: a side of more than 65536 pixels"},
    };
    for (const auto& c : cases) {
        const StillRequestResult parsed = parseStillRequest(c.clock, c.size);
        EXPECT_FALSE(parsed.status.ok) << c.clock << " " << c.size;
        EXPECT_EQ(parsed.status.message.rfind(c.message, 0), 0u) << parsed.status.message;
    }
}

}  // namespace
}  // namespace quarvel
