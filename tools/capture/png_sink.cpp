// PNG files, each written to "<name>.part" by libpng and renamed when complete.
#include "capture/png_sink.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <png.h>

namespace quarvel {

namespace {

// libpng reports a failure by jumping back to write()'s setjmp; its own message is not needed,
// since errno says why a write failed
[[noreturn]] void jumpBack(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void ignoreWarning(png_structp, png_const_charp) {}

// false when libpng failed; nothing in this frame needs a destructor, so the jump is safe
bool encode(std::FILE* file, int32_t width, int32_t height, const unsigned char* const* rows) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, jumpBack, ignoreWarning);
    png_infop info = png == nullptr ? nullptr : png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    // the frames carry film grain that no level compresses well; the fastest level keeps up
    // with rendering, and "up" costs one subtraction per byte and helps the smooth parts
    png_set_compression_level(png, 1);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_write_info(png, info);
    png_set_filler(png, 0, PNG_FILLER_AFTER);  // the rows are RGBA: libpng drops the alpha
    png_write_image(png, const_cast<png_bytepp>(rows));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

PngSink::PngSink(FramePattern pattern, int32_t width, int32_t height)
    : pattern_(std::move(pattern)), width_(width), height_(height), rows_(static_cast<std::size_t>(height)) {
    name_.reserve(pattern_.prefix.size() + pattern_.suffix.size() + 16);
    temporary_.reserve(name_.capacity() + 8);
}

Status PngSink::write(int32_t frame, const unsigned char* pixels) {
    // the GL reads the bottom row first
    const std::size_t stride = static_cast<std::size_t>(width_) * 4;
    for (std::size_t y = 0; y < rows_.size(); ++y) rows_[y] = pixels + (rows_.size() - 1 - y) * stride;

    frameFileName(pattern_, frame, name_);
    temporary_.assign(name_).append(".part");
    std::FILE* file = std::fopen(temporary_.c_str(), "wb");
    if (file == nullptr) return failure("cannot create " + temporary_ + ": " + std::strerror(errno));
    errno = 0;
    bool ok = encode(file, width_, height_, rows_.data());
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
