// Encodes a stereo buffer as constant-bitrate MP3 in memory with libmp3lame.
#pragma once

#include "base/status.h"
#include "soundtrack/synth.h"

#include <vector>

namespace quarvel {

struct Mp3Settings {
    int bitrateKbps = 256;
    int quality = 2;  // lame's algorithm quality: 0 best and slowest, 9 worst
};

// the stream into `bytes`, which hold nothing on failure; the same samples give the same bytes:
// no ID3 tag, and the only header is lame's own Info frame
Status encodeMp3(const StereoBuffer& buffer, std::vector<unsigned char>& bytes,
                 const Mp3Settings& settings = {});

}  // namespace quarvel
