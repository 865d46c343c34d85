// The desktop backend on SDL2: window, display mode, GL context, timer, keys, message box and
// stop signals.
// Implemented: the window and the display modes of the display that holds (0, 0); a fullscreen
// mode and the hidden cursor that end with the process on every way out but a crash (X keeps a
// RandR mode after its client is gone, so an exit handler gives it back); SIGINT, SIGTERM and
// SIGHUP as stop requests instead of SDL's quit events.
// Left out: HiDPI scaling (a window is width x height device pixels, whatever the desktop scale).
#include "platform/platform.h"
#include "platform/posix/stop_signals.h"
#include "platform/sdl/sdl_start.h"

#include <SDL.h>
#include <atomic>
#include <cstdlib>
#include <string>

namespace quarvel::platform {

namespace {

struct SdlState {
    bool videoReady = false;
    bool closeAtExit = false;    // the exit handler is registered
    bool glLibraryHeld = false;  // loaded once more than the windows need
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
    if (!s.videoReady) s.videoReady = startSdlSubsystems(SDL_INIT_VIDEO | SDL_INIT_TIMER);
    return s.videoReady;
}

// Destroying a fullscreen window makes SDL switch its display back to the desktop mode, and the
// cursor, hidden only over that window, is back with it. Also the exit handler, for main's return
// and exit(), the paths of Escape, the end of the show, failures and stop signals. SDL itself
// stays up: SDL_Quit would unload the X and GL libraries, caches still allocated, for nothing.
void closeSurface() {
    SdlState& s = state();
    if (s.context != nullptr) {
        SDL_GL_MakeCurrent(s.window, nullptr);
        SDL_GL_DeleteContext(s.context);
        s.context = nullptr;
    }
    if (s.window != nullptr) {
        SDL_DestroyWindow(s.window);
        s.window = nullptr;
    }
}

// The display the window opens on: the one that holds (0, 0), where the window is placed. The
// first display SDL lists is the primary one, which need not be there.
int originDisplay() {
    const SDL_Point origin{0, 0};
    const int count = SDL_GetNumVideoDisplays();
    for (int i = 0; i < count; ++i) {
        SDL_Rect bounds;
        if (SDL_GetDisplayBounds(i, &bounds) == 0 && SDL_PointInRect(&origin, &bounds)) return i;
    }
    return 0;
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

bool startSdlSubsystems(Uint32 subsystems) {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    catchStopSignals();
    return SDL_InitSubSystem(subsystems) == 0;
}

bool escapeOrStopDuringWait() {
    if (stopSignal() != 0) return true;
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return false;
    SDL_PumpEvents();
    return state().escapeSincePreviousQuery || SDL_GetKeyboardState(nullptr)[SDL_SCANCODE_ESCAPE] != 0;
}

SurfaceResult openSurface(int32_t width, int32_t height, bool windowed) {
    SdlState& s = state();
    if (!ensureVideo()) return {SurfaceStatus::failed, sdlError("no display could be opened")};
    if (!s.closeAtExit) s.closeAtExit = std::atexit(closeSurface) == 0;
    // SDL unloads the GL driver with the last GL window: inside the exit handlers that is work for
    // nothing, and it pulls the driver's code from under its caches and threads (LeakSanitizer
    // crashes reading them)
    if (!s.glLibraryHeld) s.glLibraryHeld = SDL_GL_LoadLibrary(nullptr) == 0;

    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 4);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);

    // SDL switches the mode of the display that holds a window's centre, so a fullscreen window
    // starts centred on the display at (0, 0), which its size may overhang: the switch moves it to
    // (0, 0), and its drawable is width x height from the start
    const int display = originDisplay();
    const int position = windowed ? 0 : static_cast<int>(SDL_WINDOWPOS_CENTERED_DISPLAY(display));
    s.window = SDL_CreateWindow("Quarvel", position, position, width, height,
                                SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS | SDL_WINDOW_SHOWN);
    if (s.window == nullptr) return {SurfaceStatus::failed, sdlError("the window could not be created")};
    SDL_AddEventWatch(watchEscape, nullptr);

    if (!windowed) {
        SDL_RaiseWindow(s.window);
        SDL_DisplayMode wanted{};
        wanted.w = width;
        wanted.h = height;
        SDL_DisplayMode closest{};
        // only an exact size counts: the picture is drawn for width x height
        if (SDL_GetClosestDisplayMode(display, &wanted, &closest) == nullptr || closest.w != width ||
            closest.h != height || SDL_SetWindowDisplayMode(s.window, &closest) != 0 ||
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

    // the picture is drawn for exactly width x height pixels, and the default viewport is the
    // drawable's size: where a compositor only emulates the mode and sizes a fullscreen window to
    // its output (Xwayland under weston), the drawable is the output's size instead
    int drawableWidth = 0, drawableHeight = 0;
    SDL_GL_GetDrawableSize(s.window, &drawableWidth, &drawableHeight);
    if (drawableWidth != width || drawableHeight != height) {
        const std::string text = "the window system gives a drawable of " + std::to_string(drawableWidth) +
                                 " x " + std::to_string(drawableHeight) + " pixels";
        return {windowed ? SurfaceStatus::failed : SurfaceStatus::displayModeRefused, text};
    }
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
    // the box belongs on the desktop the viewer knows, not behind a fullscreen window
    closeSurface();
    // SDL's box waits for X events only: a stop signal ends the process from here on, as the
    // surface is gone and nothing is left to give back; one that came before leaves no reader
    setStopSignalsEndAtOnce(true);
    if (stopSignal() == 0) SDL_ShowSimpleMessageBox(0, "", text.c_str(), nullptr);
    setStopSignalsEndAtOnce(false);
}

bool displayMode(int32_t index, DisplayMode& mode) {
    if (!ensureVideo() || index < 0) return false;
    const int display = originDisplay();
    if (index >= SDL_GetNumDisplayModes(display)) return false;
    SDL_DisplayMode m{};
    if (SDL_GetDisplayMode(display, index, &m) != 0) return false;
    mode.width = m.w;
    mode.height = m.h;
    // SDL counts the colour bits of a format (24 for 8 bits a channel); the launcher asks for
    // the storage size of a pixel, as display drivers report it
    mode.bitsPerPixel = static_cast<int32_t>(SDL_BYTESPERPIXEL(m.format)) * 8;
    return true;
}

}  // namespace quarvel::platform
