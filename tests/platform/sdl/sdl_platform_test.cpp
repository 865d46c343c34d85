// The SDL backend in a real X server: what the run relies on from the key test, the display
// modes and the fullscreen switch. Each test runs in its own process (one window per process).
#include "platform/platform.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace quarvel {
namespace {

void xdotool(const std::string& arguments) {
    const std::string command = "xdotool " + arguments + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

void openWindow() {
    const platform::SurfaceResult surface = platform::openSurface(320, 180, true);
    ASSERT_EQ(surface.status, platform::SurfaceStatus::ready) << surface.message;
    for (int i = 0; i < 20; ++i) platform::removeOneMessage();
    xdotool("search --sync --name '^Quarvel$' windowfocus --sync");
    for (int i = 0; i < 20; ++i) platform::removeOneMessage();
}

// The default viewport of the current context: what the pipeline draws into, never set by it.
std::array<int, 4> defaultViewport() {
    using GetIntegerv = void (*)(unsigned int, int*);
    const auto getIntegerv = reinterpret_cast<GetIntegerv>(platform::glProcAddress("glGetIntegerv"));
    std::array<int, 4> viewport{};
    if (getIntegerv != nullptr) getIntegerv(0x0BA2, viewport.data());  // GL_VIEWPORT
    return viewport;
}

// What xrandr says of the output at (0, 0): its WIDTHxHEIGHT+0+0.
std::string outputAtOrigin() {
    FILE* query = popen("xrandr --query", "r");
    if (query == nullptr) return {};
    std::string found;
    char line[512];
    while (std::fgets(line, sizeof line, query) != nullptr) {
        const std::string text = line;
        if (text.find(" connected") == std::string::npos) continue;
        for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
            end = text.find_first_of(" \n", start);
            if (end == std::string::npos) end = text.size();
            const std::string word = text.substr(start, end - start);
            if (word.size() > 4 && word.compare(word.size() - 4, 4, "+0+0") == 0) found = word;
        }
    }
    pclose(query);
    return found;
}

// X events reach the client asynchronously: a busy machine may deliver them a little late.
bool escapeWithinOneSecond() {
    for (int i = 0; i < 100; ++i) {
        if (platform::escapePressed()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(SdlPlatformTest, EscapePressedAndReleasedBetweenQueriesIsSeenOnceBehindOtherEvents) {
    openWindow();
    EXPECT_FALSE(platform::escapePressed());
    // a queue full of other events, of which the run takes only one per frame
    for (int i = 0; i < 40; ++i)
        xdotool("mousemove " + std::to_string(10 + i) + " " + std::to_string(10 + i % 7));
    xdotool("key Escape");  // press and release
    platform::removeOneMessage();
    EXPECT_TRUE(escapeWithinOneSecond()) << "the press happened since the previous query";
    platform::removeOneMessage();
    EXPECT_FALSE(platform::escapePressed()) << "and is reported once";
}

TEST(SdlPlatformTest, EscapeHeldDownIsReportedOnEveryQuery) {
    openWindow();
    xdotool("keydown Escape");
    EXPECT_TRUE(escapeWithinOneSecond());
    EXPECT_TRUE(platform::escapePressed());
    EXPECT_TRUE(platform::escapePressed());
    xdotool("keyup Escape");
    for (int i = 0; i < 100 && platform::escapePressed(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(platform::escapePressed()) << "released, and the press was already reported";
}

TEST(SdlPlatformTest, TimerCountsMilliseconds) {
    const uint32_t before = platform::timerMilliseconds();
    const uint32_t after = platform::timerMilliseconds();
    EXPECT_LE(after - before, 1000u);
}

TEST(SdlPlatformTest, DisplayModesReportTheScreenAt32BitsPerPixel) {
    platform::DisplayMode mode;
    ASSERT_TRUE(platform::displayMode(0, mode)) << "the X screen has at least one mode";
    bool screenSize = false;
    int count = 0;
    for (int32_t i = 0; platform::displayMode(i, mode); ++i, ++count) {
        EXPECT_EQ(mode.bitsPerPixel, 32) << mode.width << "x" << mode.height;
        screenSize = screenSize || (mode.width == 1280 && mode.height == 720);
    }
    EXPECT_TRUE(screenSize) << "the 1280x720 screen is among " << count << " modes";
    EXPECT_FALSE(platform::displayMode(count, mode));
    EXPECT_FALSE(platform::displayMode(-1, mode));
}

TEST(SdlPlatformTest, FullscreenAtASizeTheDisplayDoesNotOfferIsRefused) {
    const platform::SurfaceResult surface = platform::openSurface(1366, 768, false);
    EXPECT_EQ(surface.status, platform::SurfaceStatus::displayModeRefused) << surface.message;
}

TEST(SdlPlatformTest, FullscreenAtTheScreenSizeGivesAContext) {
    const platform::SurfaceResult surface = platform::openSurface(1280, 720, false);
    ASSERT_EQ(surface.status, platform::SurfaceStatus::ready) << surface.message;
    EXPECT_NE(platform::glProcAddress("glCreateProgram"), nullptr);
    EXPECT_NE(platform::glProcAddress("glRects"), nullptr) << "GL 1.1 entry points are looked up too";
}

// Run by desktop_test.sh in an Xorg with two monitors: the primary one lies right of the one at
// (0, 0), which alone offers QUARVEL_TEST_ORIGIN_ONLY_MODE. Fullscreen at
// QUARVEL_TEST_ORIGIN_SWITCH_TO, larger than that monitor's desktop, must switch it all the same.
TEST(SdlPlatformTest, ModesAndFullscreenAreThoseOfTheDisplayAtTheOrigin) {
    const char* onlyThere = std::getenv("QUARVEL_TEST_ORIGIN_ONLY_MODE");
    const char* switchTo = std::getenv("QUARVEL_TEST_ORIGIN_SWITCH_TO");
    if (onlyThere == nullptr || switchTo == nullptr) GTEST_SKIP() << "needs desktop_test.sh's two monitors";
    bool offered = false;
    platform::DisplayMode mode;
    for (int32_t i = 0; platform::displayMode(i, mode); ++i)
        offered = offered || std::to_string(mode.width) + "x" + std::to_string(mode.height) == onlyThere;
    EXPECT_TRUE(offered) << onlyThere << ", a mode of the monitor at (0, 0) only, is not among the modes";

    int width = 0, height = 0;
    ASSERT_EQ(std::sscanf(switchTo, "%dx%d", &width, &height), 2);
    const platform::SurfaceResult surface = platform::openSurface(width, height, false);
    ASSERT_EQ(surface.status, platform::SurfaceStatus::ready) << surface.message;
    EXPECT_EQ(outputAtOrigin(), std::string(switchTo) + "+0+0");
    EXPECT_EQ(defaultViewport(), (std::array<int, 4>{0, 0, width, height}));
}

}  // namespace
}  // namespace quarvel
