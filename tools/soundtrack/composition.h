// The show's 86-second soundtrack, composed for its timeline and rendered by the
// synthesiser in synth.h.
#pragma once

#include "soundtrack/synth.h"

namespace quarvel {

inline constexpr double trackSeconds = 86.0;
inline constexpr size_t trackFrames = static_cast<size_t>(86) * sampleRate;

// the whole track, unmastered: its levels are relative, the master stage sets loudness and peak
StereoBuffer renderTrack();

}  // namespace quarvel
