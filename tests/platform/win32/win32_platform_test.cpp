// The win32 backend on a real window system (Wine on Xvfb, 1280x720, in CI): the popup window
// and its GL context, display modes and the Escape key.
#include "platform/platform.h"

#include <cstdint>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <windows.h>

namespace quarvel {
namespace {

// --- window and context ------------------------------------------------------------------------

using GetStringFn = const unsigned char*(WINAPI*)(unsigned int);
using GetIntegervFn = void(WINAPI*)(unsigned int, int*);
constexpr unsigned int glVersion = 0x1F02;
constexpr unsigned int glViewport = 0x0BA2;

RECT windowRect(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

// Every case opens its own window: the backend keeps only the latest.
TEST(Win32PlatformTest, WindowedSurfaceIsAnUndecoratedPopupWithACompatibilityContext) {
    const platform::SurfaceResult surface = platform::openSurface(640, 360, true);
    ASSERT_EQ(surface.status, platform::SurfaceStatus::ready) << surface.message;

    const HDC deviceContext = wglGetCurrentDC();
    ASSERT_NE(deviceContext, nullptr) << "no context is current";
    const HWND window = WindowFromDC(deviceContext);
    const RECT rect = windowRect(window);
    EXPECT_EQ((std::vector<LONG>{rect.left, rect.top, rect.right, rect.bottom}),
              (std::vector<LONG>{0, 0, 640, 360}));
    const auto style = static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
    EXPECT_EQ(style & (WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_THICKFRAME),
              static_cast<DWORD>(WS_POPUP | WS_VISIBLE));

    PIXELFORMATDESCRIPTOR format{};
    DescribePixelFormat(deviceContext, GetPixelFormat(deviceContext), sizeof format, &format);
    EXPECT_NE(format.dwFlags & PFD_DOUBLEBUFFER, 0u);
    EXPECT_NE(format.dwFlags & PFD_SUPPORT_OPENGL, 0u);

    // GL 1.1 comes from opengl32.dll, the rest from the driver; the loader asks for both by name
    const auto getString = reinterpret_cast<GetStringFn>(platform::glProcAddress("glGetString"));
    const auto getIntegerv = reinterpret_cast<GetIntegervFn>(platform::glProcAddress("glGetIntegerv"));
    ASSERT_NE(getString, nullptr);
    ASSERT_NE(getIntegerv, nullptr);
    EXPECT_NE(platform::glProcAddress("glCreateProgram"), nullptr);
    EXPECT_NE(platform::glProcAddress("glGetObjectParameterivARB"), nullptr);
    EXPECT_EQ(platform::glProcAddress("glNoSuchEntryPoint"), nullptr);

    const char* version = reinterpret_cast<const char*>(getString(glVersion));
    ASSERT_NE(version, nullptr);
    int major = 0, minor = 0;
    ASSERT_EQ(std::sscanf(version, "%d.%d", &major, &minor), 2) << version;
    EXPECT_GE(major * 10 + minor, 43) << version;
    EXPECT_EQ(std::string(version).find("Core"), std::string::npos)
        << "a core profile has no glRects: " << version;

    int viewport[4] = {};
    getIntegerv(glViewport, viewport);
    EXPECT_EQ((std::vector<int>(viewport, viewport + 4)), (std::vector<int>{0, 0, 640, 360}));
}

TEST(Win32PlatformTest, FullscreenAtTheScreenSizeHidesTheCursor) {
    const platform::SurfaceResult surface = platform::openSurface(1280, 720, false);
    ASSERT_EQ(surface.status, platform::SurfaceStatus::ready) << surface.message;
    const RECT rect = windowRect(WindowFromDC(wglGetCurrentDC()));
    EXPECT_EQ((std::vector<LONG>{rect.left, rect.top, rect.right, rect.bottom}),
              (std::vector<LONG>{0, 0, 1280, 720}));
    // one hide: showing once brings the display count back to 0
    EXPECT_EQ(ShowCursor(TRUE), 0);
    ShowCursor(FALSE);
}

TEST(Win32PlatformTest, FullscreenAtASizeTheDisplayDoesNotOfferIsRefused) {
    const platform::SurfaceResult surface = platform::openSurface(1000, 562, false);
    EXPECT_EQ(surface.status, platform::SurfaceStatus::displayModeRefused) << surface.message;
}

// --- display modes and keys --------------------------------------------------------------------

TEST(Win32PlatformTest, DisplayModesListTheScreenSizeAndEndPastTheLast) {
    std::vector<platform::DisplayMode> modes;
    platform::DisplayMode mode;
    for (int32_t i = 0; i < 10'000 && platform::displayMode(i, mode); ++i) modes.push_back(mode);
    ASSERT_FALSE(modes.empty());
    ASSERT_LT(modes.size(), 10'000u) << "the list never ends";
    bool screenAt32 = false;
    for (const platform::DisplayMode& m : modes)
        screenAt32 = screenAt32 || (m.width == 1280 && m.height == 720 && m.bitsPerPixel == 32);
    EXPECT_TRUE(screenAt32);
    // the system's "current" and "registry" pseudo-indices are not entries of the list
    EXPECT_FALSE(platform::displayMode(-1, mode));
    EXPECT_FALSE(platform::displayMode(-2, mode));
}

void sendEscape(bool down) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = VK_ESCAPE;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(VK_ESCAPE, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    ASSERT_EQ(SendInput(1, &input, sizeof input), 1u);
}

TEST(Win32PlatformTest, EscapeTappedBetweenQueriesIsSeenOnceAndHeldOnEveryQuery) {
    ASSERT_EQ(platform::openSurface(640, 360, true).status, platform::SurfaceStatus::ready);
    platform::escapePressed();  // forget whatever came before
    EXPECT_FALSE(platform::escapePressed());

    sendEscape(true);
    sendEscape(false);
    EXPECT_TRUE(platform::escapePressed()) << "a tap between two frames";
    EXPECT_FALSE(platform::escapePressed()) << "the same tap again";

    sendEscape(true);
    EXPECT_TRUE(platform::escapePressed());
    EXPECT_TRUE(platform::escapePressed()) << "still held";
    sendEscape(false);
    platform::escapePressed();
    EXPECT_FALSE(platform::escapePressed());
}

}  // namespace
}  // namespace quarvel
