// The web backend: the platform contract in a browser, on a WebGL2 context of the page's canvas.
// Implemented: the surface (WebGL2 on #quarvel-canvas, fullscreen through the Fullscreen API),
// the GL entry points (WebGL2's and the stand-ins of webgl_shims.cpp), the timer
// (performance.now), Escape (keydown, and leaving fullscreen, which the browser does on Escape),
// messages in the page, display modes (the screen's size, then the usual 16:9 sizes that fit).
// The dialog is in web_dialog.cpp, the media service in web_media.cpp.
// Left out: a real change of display mode (fullscreen scales the canvas instead); stop signals (a
// page gets none); window messages
// (the browser dispatches its events between animation frames, so there is none to take).
#include "base/picture_size.h"
#include "platform/platform.h"
#include "platform/web/page_calls.h"
#include "platform/web/web_page.h"
#include "platform/web/webgl_shims.h"

#include <GLES3/gl3.h>
#include <cstdint>
#include <emscripten/emscripten.h>
#include <emscripten/html5.h>
#include <string>

namespace quarvel::platform {

namespace {

constexpr const char* canvasSelector = "#quarvel-canvas";

// The 16:9 sizes displays commonly offer, largest first as display drivers list them; those
// that fit the screen follow the screen's own size in the launcher's list.
constexpr DisplayMode desktopSizes[] = {
    {7680, 4320, 32}, {5120, 2880, 32}, {3840, 2160, 32}, {3200, 1800, 32}, {2560, 1440, 32},
    {2048, 1152, 32}, {1920, 1080, 32}, {1600, 900, 32},  {1366, 768, 32},  {1280, 720, 32},
    {1024, 576, 32},  {960, 540, 32},   {864, 486, 32},   {640, 360, 32},
};

std::string sizeText(int32_t width, int32_t height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

}  // namespace

SurfaceResult openSurface(int32_t width, int32_t height, bool windowed) {
    if (width <= 0 || height <= 0)
        return {SurfaceStatus::failed, "The size " + sizeText(width, height) + " has no pixels to draw."};

    EmscriptenWebGLContextAttributes attributes;
    emscripten_webgl_init_context_attributes(&attributes);
    attributes.alpha = false;
    attributes.depth = false;
    attributes.stencil = false;
    attributes.antialias = false;
    attributes.preserveDrawingBuffer = false;
    attributes.powerPreference = EM_WEBGL_POWER_PREFERENCE_HIGH_PERFORMANCE;
    attributes.majorVersion = 2;
    attributes.minorVersion = 0;
    const EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context =
        emscripten_webgl_create_context(canvasSelector, &attributes);
    if (context <= 0)
        return {SurfaceStatus::failed,
                "This browser gives the page no WebGL2, which Quarvel draws with. A current Chrome, Edge, "
                "Firefox or Safari with hardware acceleration allowed has it."};
    emscripten_webgl_make_context_current(context);

    // the limits are known only once a context exists; the canvas is sized after they are checked
    const PictureSize limit = glPictureLimit(glGetIntegerv);
    const std::string tooLarge =
        "The size " + sizeText(width, height) + " is larger than this browser's WebGL2 draws";
    if (!fitsWithin({width, height}, limit))
        return {SurfaceStatus::failed, tooLarge + " (at most " + sizeText(limit.width, limit.height) + ")."};

    quarvelPageOpenCanvas(width, height, !windowed);
    // the browser may give a canvas less than it was asked for, when memory is short
    int drawingWidth = 0;
    int drawingHeight = 0;
    emscripten_webgl_get_drawing_buffer_size(context, &drawingWidth, &drawingHeight);
    if (drawingWidth != width || drawingHeight != height)
        return {SurfaceStatus::failed,
                tooLarge + " (it gave " + sizeText(drawingWidth, drawingHeight) + ")."};
    // WebGL set the viewport to the canvas's size at creation, before the canvas had its size
    glViewport(0, 0, width, height);
    quarvelPageWatchKeys();
    return {SurfaceStatus::ready, {}};
}

GlProc glProcAddress(const char* name) {
    return webgl::entryPoint(name);
}

// the browser shows the frame when the animation frame's callback returns
void swapBuffers() {
    quarvelPageFrameShown();
}

void removeOneMessage() {}

uint32_t timerMilliseconds() {
    return static_cast<uint32_t>(static_cast<uint64_t>(emscripten_get_now()));
}

bool escapePressed() {
    return quarvelPageEscapePressed();
}

// a page gets no signals: closing its tab simply ends it
int stopSignal() {
    return 0;
}

// the page cannot block, so the message stays in it; the caller goes on at once
void showMessage(const std::string& text) {
    quarvelPageShowMessage(text.c_str());
}

bool displayMode(int32_t index, DisplayMode& mode) {
    int32_t width = 0;
    int32_t height = 0;
    int32_t colourDepth = 0;
    quarvelPageDisplaySize(&width, &height, &colourDepth);
    // browsers count the colour bits (24 for 8 a channel); the launcher asks for the storage size
    const int32_t bitsPerPixel = colourDepth >= 24 ? 32 : colourDepth;
    if (index == 0) {
        mode = {width, height, bitsPerPixel};
        return true;
    }
    int32_t fitting = 0;
    for (const DisplayMode& size : desktopSizes) {
        if (size.width > width || size.height > height) continue;
        if (++fitting == index) {
            mode = {size.width, size.height, bitsPerPixel};
            return true;
        }
    }
    return false;
}

namespace web {

namespace {

struct AnimationLoop {
    AnimationFrame frame = nullptr;
    void* data = nullptr;
};

// module-level: the browser calls back with one pointer, and the loop outlives its starter
AnimationLoop animationLoop;

EM_BOOL onAnimationFrame(double /*time*/, void* /*userData*/) {
    return animationLoop.frame(animationLoop.data) ? EM_TRUE : EM_FALSE;
}

}  // namespace

void runAnimationFrames(AnimationFrame frame, void* data) {
    animationLoop = {frame, data};
    emscripten_request_animation_frame_loop(onAnimationFrame, nullptr);
}

void showEnded(const char* text) {
    quarvelPageEnded(text);
}

void markStillRendered() {
    quarvelPageStillRendered();
}

}  // namespace web

}  // namespace quarvel::platform
