// A playback stream of PipeWire's own, whose reports say when a frame is heard to the graph
// cycle, which its PulseAudio protocol leaves out. See server_output.h for what each call does.
#pragma once

#include "platform/posix/server_output.h"

namespace quarvel::platform {

struct PipeWireOutput;

PipeWireOutput* openPipeWireOutput(int rate, int channels, ServerFill fill, void* userdata);
void closePipeWireOutput(PipeWireOutput* output);

void lockPipeWireOutput(PipeWireOutput* output);
void unlockPipeWireOutput(PipeWireOutput* output);

std::optional<std::chrono::steady_clock::time_point> pipeWireFrameHeardAt(PipeWireOutput* output,
                                                                          long long frame,
                                                                          ServerReport report);

}  // namespace quarvel::platform
