// The win32 backend on a real window system (Wine on Xvfb, 1280x720, in CI): the resources linked
// into every program, the popup window and its GL context, display modes, keys and the timer.
#include "platform/platform.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace quarvel {
namespace {

// --- resources ---------------------------------------------------------------------------------

// Reads a resource template the way the dialog manager does: WORD-aligned fields, texts and
// classes either as a 0xFFFF-marked ordinal or as a NUL-terminated UTF-16 string.
class TemplateReader {
public:
    TemplateReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint16_t word() {
        uint16_t value = 0;
        read(&value, sizeof value);
        return value;
    }
    uint32_t dword() {
        uint32_t value = 0;
        read(&value, sizeof value);
        return value;
    }
    int16_t shortValue() { return static_cast<int16_t>(word()); }

    // an ordinal reads as "#<number>", a string as its (ASCII) text
    std::string ordinalOrText() {
        if (peekWord() == 0xFFFF) {
            word();
            std::string ordinal = "#";
            ordinal += std::to_string(word());
            return ordinal;
        }
        std::string text;
        for (uint16_t c = word(); c != 0; c = word()) text += static_cast<char>(c);
        return text;
    }
    void alignToDword() { offset_ = (offset_ + 3) & ~size_t{3}; }
    bool failed() const { return failed_; }

private:
    uint16_t peekWord() const {
        uint16_t value = 0;
        if (offset_ + sizeof value <= size_) std::memcpy(&value, data_ + offset_, sizeof value);
        return value;
    }
    void read(void* out, size_t n) {
        if (offset_ + n > size_) {
            failed_ = true;
            return;
        }
        std::memcpy(out, data_ + offset_, n);
        offset_ += n;
    }

    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
    bool failed_ = false;
};

struct ResourceBytes {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

ResourceBytes findResource(LPCSTR type, LPCSTR name, WORD language) {
    HRSRC info = FindResourceExA(nullptr, type, name, language);
    if (info == nullptr) return {};
    HGLOBAL loaded = LoadResource(nullptr, info);
    return {static_cast<const uint8_t*>(LockResource(loaded)), SizeofResource(nullptr, info)};
}

struct ControlRecord {
    uint32_t helpId, exStyle, style;
    int16_t x, y, cx, cy;
    uint32_t id;
    std::string className, text;
    uint16_t creationDataSize;
};

TEST(Win32ResourceTest, LauncherTemplateIsAnExtendedDialogInHungarian) {
    const WORD hungarian = MAKELANGID(LANG_HUNGARIAN, SUBLANG_DEFAULT);
    ASSERT_EQ(hungarian, 1038);
    const ResourceBytes resource = findResource(RT_DIALOG, MAKEINTRESOURCEA(101), hungarian);
    ASSERT_NE(resource.data, nullptr) << "no dialog 101 in language 1038";

    TemplateReader in(resource.data, resource.size);
    EXPECT_EQ(in.word(), 1) << "version";
    EXPECT_EQ(in.word(), 0xFFFF) << "signature of the extended format";
    EXPECT_EQ(in.dword(), 0u) << "help id";
    EXPECT_EQ(in.dword(), 0u) << "extended style";
    EXPECT_EQ(in.dword(), static_cast<uint32_t>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT |
                                                DS_CENTER));
    const uint16_t controlCount = in.word();
    EXPECT_EQ(controlCount, 8);
    const int16_t x = in.shortValue(), y = in.shortValue(), cx = in.shortValue(), cy = in.shortValue();
    EXPECT_EQ((std::vector<int>{x, y, cx, cy}), (std::vector<int>{0, 0, 186, 111}));
    EXPECT_EQ(in.ordinalOrText(), "") << "menu";
    EXPECT_EQ(in.ordinalOrText(), "") << "the default dialog class";
    EXPECT_EQ(in.ordinalOrText(), "Tessmor selektor");
    EXPECT_EQ(in.word(), 8) << "points";
    EXPECT_EQ(in.word(), 0) << "weight";
    EXPECT_EQ(in.word(), 0) << "italic (low byte) and character set (high byte)";
    EXPECT_EQ(in.ordinalOrText(), "Tahoma");

    const uint32_t child = WS_CHILD | WS_VISIBLE;
    const uint32_t noId = 0xFFFFFFFF;
    const ControlRecord expected[] = {
        {0, 0, child | WS_TABSTOP | BS_DEFPUSHBUTTON, 7, 90, 50, 14, 1, "#128", "Enter", 0},
        {0, 0, child | WS_TABSTOP | BS_PUSHBUTTON, 128, 90, 50, 14, 2, "#128", "Exit", 0},
        {0, 0, child | WS_GROUP | SS_RIGHT, 20, 22, 65, 10, noId, "#130", "Resolution:", 0},
        {0, 0, child | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST, 95, 20, 75, 125, 1001, "#133", "", 0},
        {0, 0, child | WS_GROUP | SS_RIGHT, 20, 36, 65, 10, noId, "#130", "Fullscreen:", 0},
        {0, 0, child | WS_TABSTOP | BS_AUTOCHECKBOX, 95, 36, 9, 10, 1003, "#128", "", 0},
        {0, 0, child | WS_GROUP | SS_LEFT, 19, 54, 151, 27, noId, "#130", "                Made at Zorvath 2017.", 0},
        {0, 0, child | WS_GROUP | SS_CENTER, 5, 8, 175, 10, noId, "#130", "Quarvel", 0},
    };
    for (int i = 0; i < controlCount && i < 8; ++i) {
        const ControlRecord& want = expected[i];
        in.alignToDword();
        ControlRecord got{};
        got.helpId = in.dword();
        got.exStyle = in.dword();
        got.style = in.dword();
        got.x = in.shortValue();
        got.y = in.shortValue();
        got.cx = in.shortValue();
        got.cy = in.shortValue();
        got.id = in.dword();
        got.className = in.ordinalOrText();
        got.text = in.ordinalOrText();
        got.creationDataSize = in.word();
        SCOPED_TRACE("control " + std::to_string(i + 1) + " \"" + want.text + "\"");
        EXPECT_EQ(got.helpId, want.helpId);
        EXPECT_EQ(got.exStyle, want.exStyle);
        EXPECT_EQ(got.style, want.style);
        EXPECT_EQ((std::vector<int>{got.x, got.y, got.cx, got.cy}), (std::vector<int>{want.x, want.y, want.cx, want.cy}));
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.className, want.className);
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.creationDataSize, want.creationDataSize);
    }
    EXPECT_FALSE(in.failed()) << "the template is shorter than its controls";
}

TEST(Win32ResourceTest, ManifestAsksForTheInvokersRightsAndNothingElse) {
    const ResourceBytes resource =
        findResource(RT_MANIFEST, MAKEINTRESOURCEA(1), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    ASSERT_NE(resource.data, nullptr) << "no application manifest";
    const std::string manifest(reinterpret_cast<const char*>(resource.data), resource.size);
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"), std::string::npos);
    // no dependency on a newer common-controls version: the dialog keeps the classic look
    EXPECT_EQ(manifest.find("dependency"), std::string::npos);
    EXPECT_EQ(manifest.find("compatibility"), std::string::npos);
}

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
    EXPECT_EQ((std::vector<LONG>{rect.left, rect.top, rect.right, rect.bottom}), (std::vector<LONG>{0, 0, 640, 360}));
    const auto style = static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
    EXPECT_EQ(style & (WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_THICKFRAME), static_cast<DWORD>(WS_POPUP | WS_VISIBLE));

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
    EXPECT_EQ(std::string(version).find("Core"), std::string::npos) << "a core profile has no glRects: " << version;

    int viewport[4] = {};
    getIntegerv(glViewport, viewport);
    EXPECT_EQ((std::vector<int>(viewport, viewport + 4)), (std::vector<int>{0, 0, 640, 360}));
}

TEST(Win32PlatformTest, FullscreenAtTheScreenSizeHidesTheCursor) {
    const platform::SurfaceResult surface = platform::openSurface(1280, 720, false);
    ASSERT_EQ(surface.status, platform::SurfaceStatus::ready) << surface.message;
    const RECT rect = windowRect(WindowFromDC(wglGetCurrentDC()));
    EXPECT_EQ((std::vector<LONG>{rect.left, rect.top, rect.right, rect.bottom}), (std::vector<LONG>{0, 0, 1280, 720}));
    // one hide: showing once brings the display count back to 0
    EXPECT_EQ(ShowCursor(TRUE), 0);
    ShowCursor(FALSE);
}

TEST(Win32PlatformTest, FullscreenAtASizeTheDisplayDoesNotOfferIsRefused) {
    const platform::SurfaceResult surface = platform::openSurface(1000, 562, false);
    EXPECT_EQ(surface.status, platform::SurfaceStatus::displayModeRefused) << surface.message;
}

// --- display modes, timer, keys, messages ------------------------------------------------------

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

TEST(Win32PlatformTest, TimerCountsMilliseconds) {
    const uint32_t before = platform::timerMilliseconds();
    Sleep(200);
    const uint32_t elapsed = platform::timerMilliseconds() - before;
    EXPECT_GE(elapsed, 180u);
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

TEST(Win32PlatformTest, RemoveOneMessageTakesExactlyOneAndNeverWaits) {
    // a thread without windows has an empty queue
    std::thread([] { platform::removeOneMessage(); }).join();

    // here the windows of earlier cases keep asking for WM_PAINT, which nobody dispatches, so the
    // queue never runs dry; posted messages are always taken before it

    MSG message;
    const DWORD thread = GetCurrentThreadId();
    ASSERT_TRUE(PostThreadMessageA(thread, WM_APP, 1, 0));
    ASSERT_TRUE(PostThreadMessageA(thread, WM_APP, 2, 0));
    platform::removeOneMessage();
    ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_APP, WM_APP, PM_REMOVE));
    EXPECT_EQ(message.wParam, 2u);
    EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_APP, WM_APP, PM_REMOVE));
}

}  // namespace
}  // namespace quarvel
