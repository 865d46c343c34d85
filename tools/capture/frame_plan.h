// Which frames a capture renders, at which demo clock values, and which of them it writes.
#pragma once

#include "base/status.h"
#include "capture/capture_options.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarvel {

// The demo clock of frame `frame` at `fps` frames per second: round(frame * 1000 / fps) - 50,
// the same lag behind the soundtrack as the demo's own clock.
int32_t captureClock(int32_t frame, int32_t fps);

struct FramePlan {
    std::vector<int32_t> clocks;  // frame n is drawn at clocks[n], from a fresh state at n = 0
    int32_t firstWritten = 0;     // frames before it are rendered only; from it to the last, written
};

struct FramePlanResult {
    Status status;  // when failed: why the options give no frames to write
    FramePlan plan;
};

// A capture at a frame rate runs like the demo's loop, up to the first frame whose clock is
// 86,000 or more, cut short by --to; --from moves the first written frame; a single image writes
// only the last. An explicit --clock list is rendered as given.
FramePlanResult makeFramePlan(const CaptureOptions& options);

}  // namespace quarvel
