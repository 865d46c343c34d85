// Where captured frames go: PNG files or a video encoder. The capture loop hands each written
// frame to a sink; the tool picks the sink from OUTPUT at run time, hence the interface.
#pragma once

#include "base/status.h"

#include <cstdint>

namespace quarvel {

class FrameSink {
public:
    virtual ~FrameSink() = default;
    // `pixels`: width x height RGBA of frame `frame`, bottom row first as the GL reads them.
    // Valid only during the call.
    virtual Status write(int32_t frame, const unsigned char* pixels) = 0;
    // After the last frame: completes the output under its final name.
    virtual Status finish() = 0;
    // After a failure or an interruption: removes whatever is incomplete. Never fails.
    virtual void abandon() = 0;
};

}  // namespace quarvel
