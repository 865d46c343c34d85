// The Windows backend: popup window, display mode, WGL context, multimedia timer, key state and
// message box, straight on user32, gdi32, opengl32 and winmm.
#include "platform/platform.h"
#include "platform/win32/win32_error.h"

#include <cstdint>
#include <string>
#include <windows.h>

namespace quarvel::platform {

namespace {

struct Win32State {
    HWND window = nullptr;
    HDC deviceContext = nullptr;  // taken once, never released: the window lives as long as the process
    HGLRC context = nullptr;
};

Win32State& state() {
    static Win32State s;
    return s;
}

// A temporary switch to width x height at 32 bits per pixel, undone by the system when the
// process ends. The depth is that of the mode the demo draws for, not the launcher's filter.
LONG switchDisplayMode(int32_t width, int32_t height) {
    DEVMODEA mode = {};
    mode.dmSize = sizeof mode;
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    mode.dmBitsPerPel = 32;
    mode.dmPelsWidth = static_cast<DWORD>(width);
    mode.dmPelsHeight = static_cast<DWORD>(height);
    return ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN);
}

}  // namespace

std::string lastErrorText(const char* what) {
    const DWORD code = GetLastError();
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        code, 0, text, sizeof text, nullptr);
    std::string result = std::string(what) + " (error " + std::to_string(code);
    if (length > 0) {
        std::string system(text, length);
        while (!system.empty() && (system.back() == '\n' || system.back() == '\r' || system.back() == ' '))
            system.pop_back();
        result += ": " + system;
    }
    return result + ")";
}

SurfaceResult openSurface(int32_t width, int32_t height, bool windowed) {
    Win32State& s = state();
    // a static control as a top-level popup: no class of our own to register, and the frame loop
    // never dispatches its messages anyway
    s.window = CreateWindowExA(0, "static", nullptr, WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr,
                               nullptr, nullptr, nullptr);
    if (s.window == nullptr) return {SurfaceStatus::failed, lastErrorText("the window could not be created")};
    s.deviceContext = GetDC(s.window);
    if (s.deviceContext == nullptr)
        return {SurfaceStatus::failed, lastErrorText("the window has no device context")};

    if (!windowed) {
        SetForegroundWindow(s.window);
        const LONG answer = switchDisplayMode(width, height);
        if (answer != DISP_CHANGE_SUCCESSFUL)
            return {SurfaceStatus::displayModeRefused,
                    "ChangeDisplaySettings answered " + std::to_string(answer)};
        ShowCursor(FALSE);
    }

    // only OpenGL support and double buffering are asked for; the driver's first match is taken
    PIXELFORMATDESCRIPTOR request = {};
    request.dwFlags = PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    const int format = ChoosePixelFormat(s.deviceContext, &request);
    if (format == 0) return {SurfaceStatus::failed, lastErrorText("no pixel format supports OpenGL")};
    if (!SetPixelFormat(s.deviceContext, format, &request))
        return {SurfaceStatus::failed, lastErrorText("the pixel format could not be set")};

    // the legacy call: the driver's default context, which is a compatibility one
    s.context = wglCreateContext(s.deviceContext);
    if (s.context == nullptr)
        return {SurfaceStatus::failed, lastErrorText("no OpenGL context could be created")};
    if (!wglMakeCurrent(s.deviceContext, s.context))
        return {SurfaceStatus::failed, lastErrorText("the OpenGL context could not be made current")};
    return {SurfaceStatus::ready, {}};
}

GlProc glProcAddress(const char* name) {
    PROC address = wglGetProcAddress(name);
    // wglGetProcAddress knows only what lies beyond GL 1.1, and some drivers answer 1, 2, 3 or -1
    // instead of null; GL 1.1 itself is exported by opengl32.dll
    const auto value = reinterpret_cast<intptr_t>(address);
    if (value == 0 || value == 1 || value == 2 || value == 3 || value == -1) {
        const HMODULE openGl = GetModuleHandleA("opengl32.dll");
        address = openGl != nullptr ? GetProcAddress(openGl, name) : nullptr;
    }
    return reinterpret_cast<GlProc>(address);
}

void swapBuffers() {
    SwapBuffers(state().deviceContext);
}

void removeOneMessage() {
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);
}

uint32_t timerMilliseconds() {
    return timeGetTime();
}

bool escapePressed() {
    // the high bit while the key is down, the low bit when it went down since the previous query
    return GetAsyncKeyState(VK_ESCAPE) != 0;
}

// A program of the graphical subsystem has no console, so no Ctrl-C reaches it; the system ends
// it through the task manager, which undoes the display mode anyway (a temporary change).
int stopSignal() {
    return 0;
}

void showMessage(const std::string& text) {
    MessageBoxA(nullptr, text.c_str(), "", MB_OK);
}

bool displayMode(int32_t index, DisplayMode& mode) {
    // negative indices name the current and the registry's settings, not an entry of the list
    if (index < 0) return false;
    DEVMODEA record = {};
    record.dmSize = sizeof record;
    if (!EnumDisplaySettingsA(nullptr, static_cast<DWORD>(index), &record)) return false;
    mode.width = static_cast<int32_t>(record.dmPelsWidth);
    mode.height = static_cast<int32_t>(record.dmPelsHeight);
    mode.bitsPerPixel = static_cast<int32_t>(record.dmBitsPerPel);
    return true;
}

}  // namespace quarvel::platform
