// The browser build's check mode: one frame of the show at a clock value, from a fresh state, as
// the page's address asks for it (index.html?still=CLOCK&size=WxH).
#pragma once

#include "base/picture_size.h"
#include "base/status.h"

#include <cstdint>
#include <string_view>

namespace quarvel {

struct StillRequest {
    int32_t clock = 0;  // demo clock, milliseconds
    int32_t width = 1920;
    int32_t height = 1080;
};

struct StillRequestResult {
    Status status;  // the failure is one line for the page
    StillRequest request;
};

// `clock`: whole milliseconds, negative allowed; `size`: "WxH" with both sides from 1 to
// maxPictureSide, or empty for 1920 x 1080.
StillRequestResult parseStillRequest(std::string_view clock, std::string_view size);

}  // namespace quarvel
