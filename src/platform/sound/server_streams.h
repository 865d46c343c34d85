// The two server outputs behind openServerOutput (sound_output.h), and the question that picks one.
#pragma once

#include "platform/sound/sound_output.h"

namespace quarvel::platform {

struct PulseServerInfo {
    OpenFailure failure = OpenFailure::noServer;  // none: the server answered
    bool isPipeWire = false;                      // "PulseAudio (on PipeWire 0.3.65)"
};

// Asks the server this process reaches through PulseAudio's protocol what it is.
PulseServerInfo askPulseServer(const OpenLimits& limits);

// A stream through PulseAudio's protocol, PulseAudio's or pipewire-pulse's.
OpenedOutput openPulseOutput(int rate, int channels, SoundSource& source, const OpenLimits& limits);

// A stream of PipeWire's own, whose reports say when a frame is heard to the graph cycle.
OpenedOutput openPipeWireOutput(int rate, int channels, SoundSource& source, const OpenLimits& limits);

}  // namespace quarvel::platform
