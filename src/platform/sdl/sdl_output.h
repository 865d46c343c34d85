// The soundtrack's output through SDL2's audio device (sdl_output.cpp).
#pragma once

#include "platform/sound/sound_output.h"

namespace quarvel::platform {

// Opens SDL's audio device, the driver SDL_AUDIODRIVER names or SDL's first that opens, and plays
// from `source` at once; null where none opens.
std::unique_ptr<SoundOutput> openSdlOutput(int rate, int channels, SoundSource& source);

}  // namespace quarvel::platform
