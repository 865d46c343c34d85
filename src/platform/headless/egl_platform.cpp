// The headless backend: an offscreen GL context on EGL, on one of the devices EGL lists (a GPU
// before Mesa's software rasteriser), else on Mesa's surfaceless platform or the default display,
// with a pbuffer as its default framebuffer. No display, no input, no messages.
#include "platform/headless/egl_devices.h"
#include "platform/platform.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

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

// The devices and their displays, where the EGL has device enumeration; none where it has not.
struct DeviceEntries {
    std::vector<EGLDeviceEXT> handles;
    std::vector<EglDevice> devices;
};

DeviceEntries enumerateDevices() {
    DeviceEntries entries;
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    auto queryDevices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    auto queryString =
        reinterpret_cast<PFNEGLQUERYDEVICESTRINGEXTPROC>(eglGetProcAddress("eglQueryDeviceStringEXT"));
    EGLint count = 0;
    if (!hasExtension(clientExtensions, "EGL_EXT_device_enumeration") || queryDevices == nullptr ||
        queryString == nullptr || !queryDevices(0, nullptr, &count) || count <= 0)
        return entries;
    entries.handles.resize(static_cast<std::size_t>(count));
    if (!queryDevices(count, entries.handles.data(), &count)) count = 0;
    entries.handles.resize(static_cast<std::size_t>(count));
    for (EGLDeviceEXT handle : entries.handles) {
        const char* extensions = queryString(handle, EGL_EXTENSIONS);
        EglDevice device;
        device.software = hasExtension(extensions, "EGL_MESA_device_software");
        const char* name = nullptr;
        if (hasExtension(extensions, "EGL_EXT_device_query_name"))
            name = queryString(handle, EGL_RENDERER_EXT);
        if (name == nullptr && hasExtension(extensions, "EGL_EXT_device_drm"))
            name = queryString(handle, EGL_DRM_DEVICE_FILE_EXT);
        device.name = name != nullptr ? name : device.software ? "Mesa's software rasteriser" : "unnamed";
        entries.devices.push_back(device);
    }
    return entries;
}

// The device chosen: its index, or -1 for the first hardware device, then the software one;
// nothing while neither an option nor the environment has chosen.
std::optional<int>& chosenDevice() {
    static std::optional<int> index;
    return index;
}

EGLDisplay initializedDisplay(EGLenum platform, void* native) {
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay == nullptr) return EGL_NO_DISPLAY;
    EGLDisplay display = getPlatformDisplay(platform, native, nullptr);
    if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr)) return display;
    return EGL_NO_DISPLAY;
}

// The displays to try, best first: the device chosen alone, or every hardware device, then the
// software ones, then displays that need no window system, so that the tests and the capture tool
// run anywhere.
template <class Usable>
EGLDisplay openDisplay(Usable usable) {
    const DeviceEntries entries = enumerateDevices();
    const auto tryDevice = [&](std::size_t i) {
        EGLDisplay display = initializedDisplay(EGL_PLATFORM_DEVICE_EXT, entries.handles[i]);
        if (display != EGL_NO_DISPLAY && usable(display)) return display;
        if (display != EGL_NO_DISPLAY) eglTerminate(display);
        return EGL_NO_DISPLAY;
    };
    if (chosenDevice().value_or(-1) >= 0) return tryDevice(static_cast<std::size_t>(*chosenDevice()));
    for (const bool software : {false, true}) {
        for (std::size_t i = 0; i < entries.devices.size(); ++i) {
            if (entries.devices[i].software != software) continue;
            if (EGLDisplay display = tryDevice(i); display != EGL_NO_DISPLAY) return display;
        }
    }
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
        EGLDisplay display = initializedDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY);
        if (display != EGL_NO_DISPLAY && usable(display)) return display;
    }
    EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr) && usable(display))
        return display;
    return EGL_NO_DISPLAY;
}

// A display's RGBA8 pbuffer configuration for desktop OpenGL, where it has one.
EGLConfig pbufferConfig(EGLDisplay display) {
    const EGLint attributes[] = {
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
    EGLint count = 0;
    if (!eglBindAPI(EGL_OPENGL_API) || !eglChooseConfig(display, attributes, &config, 1, &count) ||
        count == 0)
        return nullptr;
    return config;
}

std::string eglFailure(const char* what) {
    char code[32];
    std::snprintf(code, sizeof code, " (EGL error 0x%04x)", static_cast<unsigned>(eglGetError()));
    return what + std::string(code);
}

}  // namespace

std::vector<EglDevice> listEglDevices() {
    return enumerateDevices().devices;
}

std::string describeEglDevices(const std::vector<EglDevice>& devices) {
    if (devices.empty()) return "EGL lists no devices here\n";
    std::string text;
    for (std::size_t i = 0; i < devices.size(); ++i)
        text += std::to_string(i) + (devices[i].software ? ": software, " : ": hardware, ") +
                devices[i].name + "\n";
    return text;
}

Status chooseEglDevice(std::string_view index) {
    chosenDevice() = -1;
    if (index.empty()) return success();
    const std::vector<EglDevice> devices = listEglDevices();
    int number = -1;
    const auto [end, error] = std::from_chars(index.data(), index.data() + index.size(), number);
    if (error != std::errc() || end != index.data() + index.size() || number < 0 ||
        static_cast<std::size_t>(number) >= devices.size()) {
        std::string list = describeEglDevices(devices);
        list.pop_back();  // the message's end is the caller's
        return failure("there is no EGL device '" + std::string(index) + "'; the devices are:\n" + list);
    }
    chosenDevice() = number;
    return success();
}

SurfaceResult openSurface(int32_t width, int32_t height, bool /*windowed*/) {
    EglState& s = state();
    if (const char* index = std::getenv(eglDeviceVariable); index != nullptr && !chosenDevice()) {
        if (Status chosen = chooseEglDevice(index); !chosen.ok)
            return {SurfaceStatus::failed, std::string(eglDeviceVariable) + ": " + chosen.message};
    }
    EGLConfig config = nullptr;
    s.display =
        openDisplay([&config](EGLDisplay display) { return (config = pbufferConfig(display)) != nullptr; });
    if (s.display == EGL_NO_DISPLAY)
        return {SurfaceStatus::failed, eglFailure("no EGL display with desktop OpenGL and an RGBA8 pbuffer")};

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
