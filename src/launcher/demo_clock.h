// The demo clock: milliseconds since playback started, minus 50, in 32-bit wrap-around arithmetic.
#pragma once

#include "base/show_timeline.h"

#include <cstdint>

namespace quarvel {

// The offset that turns a timer reading into the demo clock, fixed once at the clock's origin.
constexpr uint32_t demoClockOffset(uint32_t timerAtOrigin) {
    return 0u - static_cast<uint32_t>(clockLagMs) - timerAtOrigin;
}

// Unsigned sum, so a timer that wraps past 2^32 between origin and frame does not disturb it.
constexpr int32_t demoClock(uint32_t timerNow, uint32_t offset) {
    return static_cast<int32_t>(timerNow + offset);
}

}  // namespace quarvel
