// The show's 86-second soundtrack, composed for its timeline and rendered by the
// synthesiser in synth.h.
#pragma once

#include "base/show_timeline.h"
#include "soundtrack/synth.h"

namespace quarvel {

// as long as the show's run
inline constexpr double trackSeconds = timeline::endSeconds;
inline constexpr size_t trackFrames = static_cast<size_t>(runLengthMs) * sampleRate / 1000;

// the whole track, unmastered: its levels are relative, the master stage sets loudness and peak
StereoBuffer renderTrack();

}  // namespace quarvel
