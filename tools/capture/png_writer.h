// Encodes the capture's frames as 8-bit RGB PNG files with zlib: only what the capture needs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>
#include <zlib.h>

namespace quarvel {

// One encoder per capture: its buffers are sized once for the frame size and reused.
class PngEncoder {
public:
    PngEncoder(int32_t width, int32_t height);
    ~PngEncoder();
    PngEncoder(const PngEncoder&) = delete;
    PngEncoder& operator=(const PngEncoder&) = delete;

    // `pixels` holds width x height RGBA pixels, bottom row first as the GL reads them back; the
    // file gets them top row first, without alpha (the window shows none). False when the file
    // cannot be written (errno says why).
    bool write(std::FILE* file, const unsigned char* pixels);

private:
    bool writeChunk(std::FILE* file, const char type[4], const unsigned char* data, std::size_t size);
    bool flushDeflate(std::FILE* file, int flush);

    int32_t width_;
    int32_t height_;
    bool ready_ = false;
    z_stream stream_{};
    std::vector<unsigned char> row_;       // filter byte and one RGB row, filtered
    std::vector<unsigned char> previous_;  // the previous RGB row, unfiltered
    std::vector<unsigned char> compressed_;
};

}  // namespace quarvel
