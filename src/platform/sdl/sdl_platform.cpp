// The desktop backend on SDL2: window, display mode, GL context, timer, keys and message box.
#include "platform/platform.h"

#include <SDL.h>
#include <atomic>
#include <cstdio>

namespace quarvel::platform {

namespace {

struct SdlState {
    bool videoReady = false;
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    // set by the event watch when an Escape press enters SDL's queue, cleared by escapePressed
    std::atomic<bool> escapeSincePreviousQuery{false};
};

SdlState& state() {
    static SdlState s;
    return s;
}

bool ensureVideo() {
    SdlState& s = state();
    if (!s.videoReady) s.videoReady = SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_TIMER) == 0;
    return s.videoReady;
}

// SDL calls watches as events arrive, before they wait in the queue: a press is seen even when
// the frame loop takes only one event per frame off a long queue.
int watchEscape(void* /*userdata*/, SDL_Event* event) {
    if (event->type == SDL_KEYDOWN && event->key.keysym.scancode == SDL_SCANCODE_ESCAPE)
        state().escapeSincePreviousQuery = true;
    return 1;
}

std::string sdlError(const char* what) {
    return std::string(what) + ": " + SDL_GetError();
}

}  // namespace

SurfaceResult openSurface(int32_t width, int32_t height, bool windowed) {
    SdlState& s = state();
    if (!ensureVideo()) return {SurfaceStatus::failed, sdlError("no display could be opened")};

    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 4);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);

    s.window = SDL_CreateWindow("Quarvel", 0, 0, width, height,
                                SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS | SDL_WINDOW_SHOWN);
    if (s.window == nullptr) return {SurfaceStatus::failed, sdlError("the window could not be created")};
    SDL_AddEventWatch(watchEscape, nullptr);

    if (!windowed) {
        SDL_RaiseWindow(s.window);
        const int display = SDL_GetWindowDisplayIndex(s.window);
        SDL_DisplayMode wanted{};
        wanted.w = width;
        wanted.h = height;
        SDL_DisplayMode closest{};
        // only an exact size counts: the picture is drawn for width x height
        if (SDL_GetClosestDisplayMode(display < 0 ? 0 : display, &wanted, &closest) == nullptr ||
            closest.w != width || closest.h != height || SDL_SetWindowDisplayMode(s.window, &closest) != 0 ||
            SDL_SetWindowFullscreen(s.window, SDL_WINDOW_FULLSCREEN) != 0) {
            return {SurfaceStatus::displayModeRefused, sdlError("the display refused the mode")};
        }
        SDL_ShowCursor(SDL_DISABLE);
    }

    s.context = SDL_GL_CreateContext(s.window);
    if (s.context == nullptr) {
        // no 4.3 compatibility context: take whatever the driver offers so the caller can
        // name the version it found
        SDL_GL_ResetAttributes();
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        s.context = SDL_GL_CreateContext(s.window);
    }
    if (s.context == nullptr) return {SurfaceStatus::failed, sdlError("no OpenGL context could be created")};
    if (SDL_GL_MakeCurrent(s.window, s.context) != 0)
        return {SurfaceStatus::failed, sdlError("the OpenGL context could not be made current")};
    return {SurfaceStatus::ready, {}};
}

GlProc glProcAddress(const char* name) {
    return reinterpret_cast<GlProc>(SDL_GL_GetProcAddress(name));
}

void swapBuffers() {
    SDL_GL_SwapWindow(state().window);
}

void removeOneMessage() {
    SDL_Event event;
    SDL_PollEvent(&event);
}

uint32_t timerMilliseconds() {
    ensureVideo();
    return SDL_GetTicks();
}

bool escapePressed() {
    SdlState& s = state();
    SDL_PumpEvents();
    const bool down = SDL_GetKeyboardState(nullptr)[SDL_SCANCODE_ESCAPE] != 0;
    const bool pressedSince = s.escapeSincePreviousQuery.exchange(false);
    return down || pressedSince;
}

void showMessage(const std::string& text) {
    SDL_ShowSimpleMessageBox(0, "", text.c_str(), nullptr);
}

bool displayMode(int32_t index, DisplayMode& mode) {
    if (!ensureVideo() || index < 0 || index >= SDL_GetNumDisplayModes(0)) return false;
    SDL_DisplayMode m{};
    if (SDL_GetDisplayMode(0, index, &m) != 0) return false;
    mode.width = m.w;
    mode.height = m.h;
    // SDL counts the colour bits of a format (24 for 8 bits a channel); the launcher asks for
    // the storage size of a pixel, as display drivers report it
    mode.bitsPerPixel = static_cast<int32_t>(SDL_BYTESPERPIXEL(m.format)) * 8;
    return true;
}

}  // namespace quarvel::platform
