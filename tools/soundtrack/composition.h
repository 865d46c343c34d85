// composition.h: the show's 86-second soundtrack, composed for its timeline and rendered by the
// synthesiser in synth.h.
#pragma once

#include "synth.h"

namespace quarvel {

constexpr double kTrackSeconds = 86.0;
constexpr size_t kTrackFrames = static_cast<size_t>(86) * kSampleRate;

// the whole track, unmastered: its levels are relative, the master stage sets loudness and peak
StereoBuffer renderTrack();

}  // namespace quarvel
