// Encodes a stereo buffer as constant-bitrate MP3 in memory with libmp3lame.
#pragma once

#include "soundtrack/synth.h"

#include <string>
#include <vector>

namespace quarvel {

struct Mp3Settings {
    int bitrateKbps = 256;
    int quality = 2;  // lame's algorithm quality: 0 best and slowest, 9 worst
};

struct Mp3Result {
    std::vector<unsigned char> bytes;
    std::string error;  // empty on success

    bool ok() const { return error.empty(); }
};

// the same samples give the same bytes: no ID3 tag, and the only header is lame's own Info frame
Mp3Result encodeMp3(const StereoBuffer& buffer, const Mp3Settings& settings = {});

}  // namespace quarvel
