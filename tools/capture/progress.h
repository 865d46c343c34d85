// The capture's progress line on standard error: frames done, frames per second, time left.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace quarvel {

// "m:ss", or "h:mm:ss" from an hour on.
void formatDuration(double seconds, char* out, std::size_t size);

// "frame 1200/5164  31.2 fps  2:07 left"; the rate and time left are unknown before any time passed.
void formatProgress(int32_t done, int32_t total, double elapsedSeconds, char* out, std::size_t size);

// Redraws the line in place a few times a second, only when standard error is a terminal.
class ProgressLine {
public:
    ProgressLine(int32_t total, bool terminal);
    void update(int32_t done);
    // Clears the line, so the summary or an error starts on a clean one.
    void end();
    double elapsedSeconds() const;

private:
    using Clock = std::chrono::steady_clock;
    int32_t total_;
    bool terminal_;
    bool shown_ = false;
    Clock::time_point start_;
    Clock::time_point lastDrawn_;
};

}  // namespace quarvel
