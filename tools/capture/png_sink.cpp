// PNG files, each written to "<name>.part" and renamed when complete.
#include "capture/png_sink.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quarvel {

PngSink::PngSink(FramePattern pattern, int32_t width, int32_t height)
    : pattern_(std::move(pattern)), encoder_(width, height) {
    name_.reserve(pattern_.prefix.size() + pattern_.suffix.size() + 16);
    temporary_.reserve(name_.capacity() + 8);
}

Status PngSink::write(int32_t frame, const unsigned char* pixels) {
    frameFileName(pattern_, frame, name_);
    temporary_.assign(name_).append(".part");
    std::FILE* file = std::fopen(temporary_.c_str(), "wb");
    if (file == nullptr) return failure("cannot create " + temporary_ + ": " + std::strerror(errno));
    bool ok = encoder_.write(file, pixels);
    int error = ok ? 0 : errno;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && std::rename(temporary_.c_str(), name_.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        std::remove(temporary_.c_str());
        return failure("cannot write " + name_ + ": " + std::strerror(error != 0 ? error : EIO));
    }
    return success();
}

Status PngSink::finish() {
    return success();
}

// a frame is complete or removed within write(), so nothing partial outlives it
void PngSink::abandon() {}

}  // namespace quarvel
