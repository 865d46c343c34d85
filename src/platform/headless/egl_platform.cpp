// The headless backend: an offscreen GL context on EGL (Mesa's surfaceless or device platform),
// with a pbuffer as its default framebuffer. No display, no input, no messages.
#include "platform/platform.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace quarvel::platform {

namespace {

struct EglState {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLSurface surface = EGL_NO_SURFACE;
    EGLContext context = EGL_NO_CONTEXT;
};

EglState& state() {
    static EglState s;
    return s;
}

bool hasExtension(const char* list, const char* name) {
    if (list == nullptr) return false;
    const std::size_t length = std::strlen(name);
    for (const char* p = std::strstr(list, name); p != nullptr; p = std::strstr(p + 1, name)) {
        const bool startsWord = p == list || p[-1] == ' ';
        const bool endsWord = p[length] == ' ' || p[length] == '\0';
        if (startsWord && endsWord) return true;
    }
    return false;
}

// Prefers a display that needs no window system, so the tests and the capture tool run anywhere.
EGLDisplay openDisplay() {
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay != nullptr && hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
        EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr)) return display;
    }
    EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr)) return display;
    return EGL_NO_DISPLAY;
}

std::string eglFailure(const char* what) {
    char code[32];
    std::snprintf(code, sizeof code, " (EGL error 0x%04x)", static_cast<unsigned>(eglGetError()));
    return what + std::string(code);
}

}  // namespace

SurfaceResult openSurface(int32_t width, int32_t height, bool /*windowed*/) {
    EglState& s = state();
    s.display = openDisplay();
    if (s.display == EGL_NO_DISPLAY)
        return {SurfaceStatus::failed, eglFailure("no EGL display could be opened")};
    if (!eglBindAPI(EGL_OPENGL_API)) return {SurfaceStatus::failed, eglFailure("EGL has no desktop OpenGL")};

    const EGLint configAttributes[] = {
        EGL_SURFACE_TYPE,
        EGL_PBUFFER_BIT,
        EGL_RENDERABLE_TYPE,
        EGL_OPENGL_BIT,
        EGL_RED_SIZE,
        8,
        EGL_GREEN_SIZE,
        8,
        EGL_BLUE_SIZE,
        8,
        EGL_ALPHA_SIZE,
        8,
        EGL_NONE,
    };
    EGLConfig config = nullptr;
    EGLint configCount = 0;
    if (!eglChooseConfig(s.display, configAttributes, &config, 1, &configCount) || configCount == 0)
        return {SurfaceStatus::failed, eglFailure("no RGBA8 pbuffer configuration")};

    const EGLint surfaceAttributes[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    s.surface = eglCreatePbufferSurface(s.display, config, surfaceAttributes);
    if (s.surface == EGL_NO_SURFACE) return {SurfaceStatus::failed, eglFailure("no pbuffer of that size")};

    const EGLint contextAttributes[] = {
        EGL_CONTEXT_MAJOR_VERSION,
        4,
        EGL_CONTEXT_MINOR_VERSION,
        3,
        EGL_CONTEXT_OPENGL_PROFILE_MASK,
        EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
        EGL_NONE,
    };
    s.context = eglCreateContext(s.display, config, EGL_NO_CONTEXT, contextAttributes);
    if (s.context == EGL_NO_CONTEXT) {
        // fall back to the driver's default so the caller can name the version it found
        s.context = eglCreateContext(s.display, config, EGL_NO_CONTEXT, nullptr);
    }
    if (s.context == EGL_NO_CONTEXT) return {SurfaceStatus::failed, eglFailure("no OpenGL context")};
    if (!eglMakeCurrent(s.display, s.surface, s.surface, s.context))
        return {SurfaceStatus::failed, eglFailure("the OpenGL context could not be made current")};
    return {SurfaceStatus::ready, {}};
}

GlProc glProcAddress(const char* name) {
    return reinterpret_cast<GlProc>(eglGetProcAddress(name));
}

void swapBuffers() {
    // a pbuffer has nothing to show; flushing keeps the timing of a real swap honest
    EglState& s = state();
    eglSwapBuffers(s.display, s.surface);
}

void removeOneMessage() {}

uint32_t timerMilliseconds() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

bool escapePressed() {
    return false;
}

// the programs on this backend (the capture tool, tests, benchmarks) take their signals themselves
int stopSignal() {
    return 0;
}

// nobody is there to dismiss a box; callers write their messages to stderr as well
void showMessage(const std::string& /*text*/) {}

bool displayMode(int32_t /*index*/, DisplayMode& /*mode*/) {
    return false;
}

// nothing here can show a dialog, and nobody could answer it
DialogResult runModalDialog(const DialogTemplate& /*dialogTemplate*/, DialogProcedure /*procedure*/) {
    return {DialogStatus::unavailable, 0, "the headless backend has no display for a dialog"};
}

}  // namespace quarvel::platform
