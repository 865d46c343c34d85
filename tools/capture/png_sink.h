// Writes frames as PNG files through libpng: one per frame for a pattern, or one image under a
// fixed name.
#pragma once

#include "capture/capture_options.h"
#include "capture/frame_sink.h"

#include <string>
#include <vector>

namespace quarvel {

// Each file is written under a temporary name beside it and renamed once complete, so no
// half-written image ever carries the real name. Completed frames stay when a capture stops.
// The files are 8-bit RGB, top row first, without alpha (the window shows none).
class PngSink : public FrameSink {
public:
    PngSink(FramePattern pattern, int32_t width, int32_t height);
    Status write(int32_t frame, const unsigned char* pixels) override;
    Status finish() override;
    void abandon() override;

private:
    FramePattern pattern_;
    int32_t width_;
    int32_t height_;
    std::vector<const unsigned char*> rows_;  // top row first; sized once, reused for every frame
    std::string name_;
    std::string temporary_;
};

}  // namespace quarvel
