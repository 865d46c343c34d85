// Any page address: the still request's two query values (clock, then size, split at the first
// zero byte). A request taken holds a size that can be drawn; one refused says why.
#include "launcher/still_request.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string_view clock = input.substr(0, split);
    const std::string_view sideText =
        split == std::string_view::npos ? std::string_view{} : input.substr(split + 1);
    const quarvel::StillRequestResult result = quarvel::parseStillRequest(clock, sideText);
    if (result.status.ok) {
        const auto& r = result.request;
        if (r.width < 1 || r.height < 1 || r.width > quarvel::maxPictureSide ||
            r.height > quarvel::maxPictureSide)
            std::abort();
    } else if (result.status.message.empty()) {
        std::abort();
    }
    return 0;
}
