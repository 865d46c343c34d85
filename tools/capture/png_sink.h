// Writes frames as PNG files: one per frame for a pattern, or one image under a fixed name.
#pragma once

#include "capture/capture_options.h"
#include "capture/frame_sink.h"
#include "capture/png_writer.h"

#include <string>

namespace quarvel {

// Each file is written under a temporary name beside it and renamed once complete, so no
// half-written image ever carries the real name. Completed frames stay when a capture stops.
class PngSink : public FrameSink {
public:
    PngSink(FramePattern pattern, int32_t width, int32_t height);
    Status write(int32_t frame, const unsigned char* pixels) override;
    Status finish() override;
    void abandon() override;

private:
    FramePattern pattern_;
    PngEncoder encoder_;
    std::string name_;  // reused for every frame
    std::string temporary_;
};

}  // namespace quarvel
