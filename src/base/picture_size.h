// A picture size as it is typed, "WxH": the page's still request and the capture tool's --size
// read it the same way, each with its own words for a mistake. And the largest picture a GL
// context draws, which the page and the capture check the same way.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string_view>

namespace quarvel {

// Sizes past this cannot be allocated anyway; a GL context's own limits are checked once it exists.
inline constexpr int32_t maxPictureSide = 1 << 16;

struct PictureSize {
    int32_t width = 0;
    int32_t height = 0;
};

enum class PictureSizeParse {
    ok,
    malformed,  // not two runs of digits around one 'x' (a sign counts as malformed)
    zero,       // a side of 0 pixels
    tooLarge,   // a side past maxPictureSide
};

inline PictureSizeParse parsePictureSize(std::string_view text, PictureSize& size) {
    const auto side = [](std::string_view digits, int32_t& value) {
        if (digits.empty() ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        if (digits.size() > 9) {  // too large, and past what from_chars reads into 32 bits
            value = maxPictureSide + 1;
            return true;
        }
        std::from_chars(digits.data(), digits.data() + digits.size(), value);
        return true;
    };
    const std::size_t x = text.find('x');
    PictureSize read;
    if (x == std::string_view::npos || !side(text.substr(0, x), read.width) ||
        !side(text.substr(x + 1), read.height))
        return PictureSizeParse::malformed;
    if (read.width == 0 || read.height == 0) return PictureSizeParse::zero;
    if (read.width > maxPictureSide || read.height > maxPictureSide) return PictureSizeParse::tooLarge;
    size = read;
    return PictureSizeParse::ok;
}

// The largest picture a GL context draws: each side within its texture, viewport and
// renderbuffer limits, read with the context's glGetIntegerv (base/ sees no GL header, so the
// three queries are numbered here).
template <typename GetIntegerv>
PictureSize glPictureLimit(GetIntegerv getIntegerv) {
    int texture = 0, renderbuffer = 0, viewport[2] = {0, 0};
    getIntegerv(0x0D33u, &texture);       // GL_MAX_TEXTURE_SIZE
    getIntegerv(0x0D3Au, viewport);       // GL_MAX_VIEWPORT_DIMS
    getIntegerv(0x84E8u, &renderbuffer);  // GL_MAX_RENDERBUFFER_SIZE
    return {std::min({texture, viewport[0], renderbuffer}), std::min({texture, viewport[1], renderbuffer})};
}

inline bool fitsWithin(PictureSize size, PictureSize limit) {
    return size.width <= limit.width && size.height <= limit.height;
}

}  // namespace quarvel
