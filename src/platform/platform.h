// The one contract between the demo's logic and the operating system.
// Each backend (sdl, headless, win32, the tests' fake) provides every function declared here;
// CMake decides which backend an executable links. The logic includes nothing else of the platform.
#pragma once

#include <cstdint>
#include <string>

namespace quarvel::platform {

// --- window, display mode and GL context -------------------------------------------------------

enum class SurfaceStatus {
    ready,               // window shown, GL context current on the calling thread
    displayModeRefused,  // fullscreen was asked for and the display would not switch to the size
    failed,              // no window or no GL context; `message` says what is missing
};

struct SurfaceResult {
    SurfaceStatus status = SurfaceStatus::failed;
    std::string message;
};

// Opens an undecorated window of exactly width x height at (0, 0) and makes a double-buffered,
// compatibility-profile GL context current on it. When !windowed the display is first switched
// to width x height (a change that ends with the process) and the cursor is hidden for the run.
// The default viewport is the window's size. What is opened stays open until the process ends.
SurfaceResult openSurface(int32_t width, int32_t height, bool windowed);

using GlProc = void (*)();

// The address of a GL entry point of the current context, or nullptr when it has none.
// Works for every entry point, GL 1.1 included.
GlProc glProcAddress(const char* name);

// Shows the back buffer.
void swapBuffers();

// Takes at most one pending window-system message off the queue without acting on it. Never blocks.
void removeOneMessage();

// --- time and input ----------------------------------------------------------------------------

// Milliseconds from an arbitrary origin, wrapping at 32 bits.
uint32_t timerMilliseconds();

// True while Escape is down, or when it was pressed at any time since the previous call,
// however few messages the caller took off the queue in between.
bool escapePressed();

// --- user-facing messages ----------------------------------------------------------------------

// A modal box with `text`, an empty caption and an OK button; returns once it is dismissed.
// Where no box can be shown it returns at once (callers also write the text to stderr).
void showMessage(const std::string& text);

// --- display modes -----------------------------------------------------------------------------

struct DisplayMode {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bitsPerPixel = 0;  // 32 for 8 bits per colour channel
};

// Mode `index` (from 0) of the current display, in the display's own order;
// false past the last one.
bool displayMode(int32_t index, DisplayMode& mode);

}  // namespace quarvel::platform
