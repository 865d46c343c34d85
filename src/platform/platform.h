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

// --- soundtrack media service ------------------------------------------------------------------
// A media graph plays one sound file on the audio output. It is held through counted references:
// the one createMediaGraph hands out, which builds the graph, and a control and a seeking
// reference taken from it. The graph lives while any reference is held. Every function but
// createMediaGraph needs a reference the caller holds; passing a missing one is a programmer error.

struct MediaGraph;  // each backend defines its own

struct MediaControl {
    MediaGraph* graph = nullptr;  // nullptr: no reference
};

struct MediaSeeking {
    MediaGraph* graph = nullptr;  // nullptr: no reference
};

enum class MediaRenderResult {
    complete,  // all of the file was checked and will play, and an audio output is open for it
    failed,    // anything less, a file that would play only in part included: nothing will play
};

// A new, empty graph and the first reference to it; nullptr where the service is not available.
MediaGraph* createMediaGraph();

// Another reference to the graph, for its control side; {} when it cannot be had.
MediaControl mediaControlOf(MediaGraph* graph);

// Another reference to the graph, for its seeking side; {} when it cannot be had.
MediaSeeking mediaSeekingOf(MediaGraph* graph);

// Opens `fileName` (a relative name is taken from the working folder), checks all of it and
// connects it to the audio output, stopped; nothing is heard until runMedia. At most once a graph.
MediaRenderResult renderMediaFile(MediaGraph* graph, const std::string& fileName);

// Playback goes from the beginning of the file: at once when it is under way, else from the
// next runMedia.
void seekMediaToStart(MediaSeeking seeking);

// Playback pauses where it is, for runMedia to go on from there; with nothing playing, nothing
// changes.
void stopMedia(MediaControl control);

// Playback starts, or goes on after stopMedia, and the call returns at once; sound goes on by
// itself, on the service's own threads, until the file ends or the graph is given up. After a
// failed render nothing plays.
void runMedia(MediaControl control);

// Each gives up one reference. When the last reference of a graph goes, playback ends at once and
// the file, the decoder and the audio output are freed.
void releaseMediaGraph(MediaGraph* graph);
void releaseMediaControl(MediaControl control);
void releaseMediaSeeking(MediaSeeking seeking);

}  // namespace quarvel::platform
