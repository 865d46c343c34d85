// The master stage: integrated loudness (ITU-R BS.1770 with its gating), sample peak, and the
// gain plus look-ahead limiter that bring the mix to its loudness without clipping.
#pragma once

#include "soundtrack/synth.h"

namespace quarvel {

struct MasterSettings {
    double targetLufs = -14.0;
    double ceilingDbfs = -2.0;  // below -1 dBFS: an MP3 decoder may overshoot the encoded samples a little
};

struct MasterReport {
    double loudnessLufs = 0.0;
    double peakDbfs = 0.0;
    double gainDb = 0.0;
    double deepestLimitingDb = 0.0;  // the most the limiter took off anywhere
};

// integrated loudness in LUFS; -inf-like (-200) for silence or a buffer shorter than one 400 ms block
double integratedLoudness(const StereoBuffer& buffer);

// largest absolute sample of either channel, in dBFS (-200 for silence)
double samplePeakDbfs(const StereoBuffer& buffer);

// brings the buffer to the target loudness with no sample above the ceiling, in place
MasterReport masterTrack(StereoBuffer& buffer, const MasterSettings& settings = {});

}  // namespace quarvel
