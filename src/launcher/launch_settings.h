// The launch choices the viewer makes in the launcher dialog.
#pragma once

#include <cstdint>

namespace quarvel {

struct LaunchSettings {
    int32_t width = 1920;
    int32_t height = 1080;
    int32_t bitsPerPixel = 32;  // colour depth a display mode needs to be offered
    int32_t windowed = 0;       // 0: switch the display to width x height; else a plain window
};

}  // namespace quarvel
