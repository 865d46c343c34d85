// PNG by hand on top of zlib: signature, IHDR, IDAT chunks as deflate fills them, IEND.
// Rows use the "up" filter, which costs one subtraction per byte and helps the smooth parts.
#include "capture/png_writer.h"

#include <cstring>

namespace quarvel {

namespace {

constexpr std::size_t chunkBytes = 1 << 18;
// the frames carry film grain that no level compresses well; the fastest level keeps up with rendering
constexpr int compressionLevel = Z_BEST_SPEED;

void putBigEndian(unsigned char* out, uint32_t value) {
    out[0] = static_cast<unsigned char>(value >> 24);
    out[1] = static_cast<unsigned char>(value >> 16);
    out[2] = static_cast<unsigned char>(value >> 8);
    out[3] = static_cast<unsigned char>(value);
}

}  // namespace

PngEncoder::PngEncoder(int32_t width, int32_t height)
    : width_(width),
      height_(height),
      row_(1 + static_cast<std::size_t>(width) * 3),
      previous_(static_cast<std::size_t>(width) * 3),
      compressed_(chunkBytes) {
    ready_ = deflateInit(&stream_, compressionLevel) == Z_OK;
}

PngEncoder::~PngEncoder() {
    if (ready_) deflateEnd(&stream_);
}

bool PngEncoder::writeChunk(std::FILE* file, const char type[4], const unsigned char* data,
                            std::size_t size) {
    unsigned char head[8];
    putBigEndian(head, static_cast<uint32_t>(size));
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0, head + 4, 4);
    if (size > 0) crc = crc32(crc, data, static_cast<uInt>(size));
    unsigned char tail[4];
    putBigEndian(tail, static_cast<uint32_t>(crc));
    return std::fwrite(head, 1, 8, file) == 8 && (size == 0 || std::fwrite(data, 1, size, file) == size) &&
           std::fwrite(tail, 1, 4, file) == 4;
}

// Runs deflate over the pending input, writing an IDAT chunk each time the buffer fills.
bool PngEncoder::flushDeflate(std::FILE* file, int flush) {
    while (true) {
        const int status = deflate(&stream_, flush);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) return false;
        const std::size_t filled = compressed_.size() - stream_.avail_out;
        const bool full = stream_.avail_out == 0;
        if ((full || (flush == Z_FINISH && filled > 0)) &&
            !writeChunk(file, "IDAT", compressed_.data(), filled))
            return false;
        if (full || flush == Z_FINISH) {
            stream_.next_out = compressed_.data();
            stream_.avail_out = static_cast<uInt>(compressed_.size());
        }
        if (flush == Z_FINISH ? status == Z_STREAM_END : (!full && stream_.avail_in == 0)) return true;
    }
}

bool PngEncoder::write(std::FILE* file, const unsigned char* pixels) {
    if (!ready_ || deflateReset(&stream_) != Z_OK) return false;
    stream_.next_out = compressed_.data();
    stream_.avail_out = static_cast<uInt>(compressed_.size());

    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    unsigned char header[13];
    putBigEndian(header, static_cast<uint32_t>(width_));
    putBigEndian(header + 4, static_cast<uint32_t>(height_));
    header[8] = 8;   // bits per channel
    header[9] = 2;   // colour type: RGB
    header[10] = 0;  // deflate
    header[11] = 0;  // adaptive filtering, one filter byte per row
    header[12] = 0;  // not interlaced
    if (std::fwrite(signature, 1, sizeof signature, file) != sizeof signature) return false;
    if (!writeChunk(file, "IHDR", header, sizeof header)) return false;

    const std::size_t rowPixels = static_cast<std::size_t>(width_);
    std::memset(previous_.data(), 0, previous_.size());
    row_[0] = 2;  // "up": each byte minus the one above it
    for (int32_t y = height_ - 1; y >= 0; --y) {
        const unsigned char* source = pixels + static_cast<std::size_t>(y) * rowPixels * 4;
        unsigned char* out = row_.data() + 1;
        unsigned char* above = previous_.data();
        for (std::size_t x = 0; x < rowPixels; ++x) {
            for (int c = 0; c < 3; ++c) {
                const unsigned char value = source[x * 4 + c];
                out[x * 3 + c] = static_cast<unsigned char>(value - above[x * 3 + c]);
                above[x * 3 + c] = value;
            }
        }
        stream_.next_in = row_.data();
        stream_.avail_in = static_cast<uInt>(row_.size());
        if (!flushDeflate(file, Z_NO_FLUSH)) return false;
    }
    if (!flushDeflate(file, Z_FINISH)) return false;
    return writeChunk(file, "IEND", nullptr, 0);
}

}  // namespace quarvel
