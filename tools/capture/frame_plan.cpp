// Builds the list of clock values a capture renders.
#include "capture/frame_plan.h"

#include "base/show_timeline.h"

#include <cassert>
#include <cstdio>

namespace quarvel {

int32_t captureClock(int32_t frame, int32_t fps) {
    assert(frame >= 0 && fps > 0);
    // round half up in integers: floor((2 * frame * 1000 + fps) / (2 * fps))
    const int64_t twice = int64_t{2} * frame * 1000 + fps;
    return static_cast<int32_t>(twice / (int64_t{2} * fps)) - clockLagMs;
}

FramePlanResult makeFramePlan(const CaptureOptions& options) {
    FramePlanResult result;
    FramePlan& plan = result.plan;

    if (!options.clocks.empty()) {
        plan.clocks = options.clocks;
    } else {
        for (int32_t frame = 0;; ++frame) {
            const int32_t t = captureClock(frame, options.fps);
            if (options.toMs && t > *options.toMs) break;
            plan.clocks.push_back(t);
            if (t >= runLengthMs) break;
        }
        if (plan.clocks.empty()) {
            result.status = failure("--to is before the first frame, which shows the clock at -0.05 s");
            return result;
        }
    }

    const auto last = static_cast<int32_t>(plan.clocks.size()) - 1;
    if (options.fromMs) {
        plan.firstWritten = last + 1;
        for (int32_t n = 0; n <= last; ++n) {
            if (plan.clocks[n] >= *options.fromMs) {
                plan.firstWritten = n;
                break;
            }
        }
        if (plan.firstWritten > last) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "--from is after the last frame, which shows the clock at %.3f s",
                          plan.clocks[last] / 1000.0);
            result.status = failure(text);
            return result;
        }
    }
    if (options.outputKind == OutputKind::singleImage) plan.firstWritten = last;
    result.status = success();
    return result;
}

}  // namespace quarvel
