// The whole production of the soundtrack: render, master, encode, with the time each took.
#pragma once

#include "base/status.h"
#include "soundtrack/master.h"
#include "soundtrack/mp3_encoder.h"
#include "soundtrack/synth.h"

#include <vector>

namespace quarvel {

struct Soundtrack {
    StereoBuffer samples;  // mastered, as handed to the encoder
    MasterReport master;
    Status encoded;                  // the MP3 encoder's outcome
    std::vector<unsigned char> mp3;  // the encoded stream, when encoded.ok
    double renderSeconds = 0.0;
    double masterSeconds = 0.0;
    double encodeSeconds = 0.0;
};

Soundtrack produceSoundtrack();

}  // namespace quarvel
