// A playback stream on a sound server that speaks PulseAudio's protocol: PulseAudio itself, or
// PipeWire through pipewire-pulse. See server_output.h for what each call does.
#pragma once

#include "platform/posix/server_output.h"

namespace quarvel::platform {

struct PulseOutput;

// Whether the server this process would reach is PipeWire's, which speaks the protocol too.
bool pulseServerIsPipeWire();

PulseOutput* openPulseOutput(int rate, int channels, ServerFill fill, void* userdata);
void closePulseOutput(PulseOutput* output);

void lockPulseOutput(PulseOutput* output);
void unlockPulseOutput(PulseOutput* output);

std::optional<std::chrono::steady_clock::time_point> pulseFrameHeardAt(PulseOutput* output, long long frame,
                                                                       ServerReport report);

}  // namespace quarvel::platform
