// The whole life of the demo, from the launcher dialog to the last frame.
#pragma once

namespace quarvel {

// Exit statuses of a run.
inline constexpr int exitNormal = 0;       // Exit in the dialog, Escape, or the end of the show
inline constexpr int exitFailure = 1;      // no window, no usable GL, a shader that does not compile
inline constexpr int exitModeRefused = 2;  // the display refused the fullscreen mode

// Runs the demo over the platform layer and returns the process's exit status.
int runDemo();

}  // namespace quarvel
