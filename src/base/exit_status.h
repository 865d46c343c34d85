// Exit statuses of the demo and its tools, in one place so scripts and tests can rely on them.
#pragma once

namespace quarvel {

inline constexpr int exitSuccess = 0;      // done: Exit in the dialog, Escape, the end of the show, a capture
inline constexpr int exitFailure = 1;      // the run or the tool could not do its work; stderr says why
inline constexpr int exitUsage = 2;        // a tool's command line makes no sense
inline constexpr int exitModeRefused = 2;  // the demo: the display refused the fullscreen mode

// Stopped by a signal: the shell's convention, 130 for Ctrl-C, 143 for SIGTERM, 129 for SIGHUP.
constexpr int exitOnSignal(int signalNumber) {
    return 128 + signalNumber;
}

}  // namespace quarvel
