// Progress on a terminal; nothing but the final summary when standard error is a file or a pipe.
#include "capture/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quarvel {

void formatDuration(double seconds, char* out, std::size_t size) {
    const auto whole = static_cast<long long>(std::llround(std::max(0.0, seconds)));
    if (whole >= 3600)
        std::snprintf(out, size, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    else std::snprintf(out, size, "%lld:%02lld", whole / 60, whole % 60);
}

void formatProgress(int32_t done, int32_t total, double elapsedSeconds, char* out, std::size_t size) {
    if (done <= 0 || elapsedSeconds <= 0) {
        std::snprintf(out, size, "frame %d/%d", done, total);
        return;
    }
    const double fps = done / elapsedSeconds;
    char left[32];
    formatDuration((total - done) / fps, left, sizeof left);
    std::snprintf(out, size, "frame %d/%d  %.1f fps  %s left", done, total, fps, left);
}

ProgressLine::ProgressLine(int32_t total, bool terminal)
    : total_(total), terminal_(terminal), start_(Clock::now()), lastDrawn_(start_) {}

void ProgressLine::update(int32_t done) {
    if (!terminal_) return;
    const Clock::time_point now = Clock::now();
    if (shown_ && now - lastDrawn_ < std::chrono::milliseconds(250) && done < total_) return;
    lastDrawn_ = now;
    shown_ = true;
    char line[128];
    formatProgress(done, total_, std::chrono::duration<double>(now - start_).count(), line, sizeof line);
    // carriage return and erase-to-end redraw the line where it stands
    std::fprintf(stderr, "\r%s\x1b[K", line);
    std::fflush(stderr);
}

void ProgressLine::end() {
    if (!shown_) return;
    std::fprintf(stderr, "\r\x1b[K");
    std::fflush(stderr);
    shown_ = false;
}

double ProgressLine::elapsedSeconds() const {
    return std::chrono::duration<double>(Clock::now() - start_).count();
}

}  // namespace quarvel
