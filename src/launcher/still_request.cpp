// Reads the still frame's clock and size from the page's address, with one line per mistake.
#include "launcher/still_request.h"

#include <charconv>
#include <string>

namespace quarvel {

namespace {

bool parseWhole(std::string_view text, int64_t& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end;
}

}  // namespace

StillRequestResult parseStillRequest(std::string_view clock, std::string_view size) {
    StillRequestResult result;
    int64_t ms = 0;
    if (!parseWhole(clock, ms) || ms < INT32_MIN || ms > INT32_MAX) {
        result.status = failure("still=" + std::string(clock) +
                                ": the clock must be a whole number of milliseconds, as in still=25000");
        return result;
    }
    result.request.clock = static_cast<int32_t>(ms);

    if (!size.empty()) {
        PictureSize read;
        switch (parsePictureSize(size, read)) {
            case PictureSizeParse::ok:
                break;
            case PictureSizeParse::malformed:
            case PictureSizeParse::zero:
                result.status =
                    failure("size=" + std::string(size) +
                            ": the width and height must be positive whole numbers, as in size=640x360");
                return result;
            case PictureSizeParse::tooLarge:
                result.status = failure("size=" + std::string(size) + ": a side of more than " +
                                        std::to_string(maxPictureSide) + " pixels is too large");
                return result;
        }
        result.request.width = read.width;
        result.request.height = read.height;
    }
    result.status = success();
    return result;
}

}  // namespace quarvel
