// The whole production of the soundtrack: render, master, encode, with the time each took.
#pragma once

#include "soundtrack/master.h"
#include "soundtrack/mp3_encoder.h"
#include "soundtrack/synth.h"

namespace quarvel {

struct Soundtrack {
    StereoBuffer samples;  // mastered, as handed to the encoder
    MasterReport master;
    Mp3Result mp3;
    double renderSeconds = 0.0;
    double masterSeconds = 0.0;
    double encodeSeconds = 0.0;
};

Soundtrack produceSoundtrack();

}  // namespace quarvel
