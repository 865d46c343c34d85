#include "platform/posix/server_output.h"

#include "platform/posix/pipewire_output.h"
#include "platform/posix/pulse_output.h"

#include <cstdlib>
#include <string_view>

namespace quarvel::platform {

namespace {

// PULSE_SERVER may name a server on another machine, which a PipeWire stream would not reach.
bool pulseServerIsLocal() {
    const char* named = std::getenv("PULSE_SERVER");
    if (named == nullptr || *named == '\0') return true;
    const std::string_view server(named);
    return server.starts_with("unix:") || server.starts_with("/");
}

}  // namespace

// One of the two, whichever opened.
struct ServerOutput {
    PipeWireOutput* pipewire = nullptr;
    PulseOutput* pulse = nullptr;
};

ServerOutput* openServerOutput(int rate, int channels, ServerFill fill, void* userdata) {
    // PipeWire's server answers PulseAudio's protocol too, but only its own stream says when a
    // frame is heard to the cycle; a PipeWire that runs beside PulseAudio plays no sound, so it
    // is the PulseAudio server that says which one plays
    ServerOutput output;
    if (pulseServerIsLocal() && pulseServerIsPipeWire())
        output.pipewire = openPipeWireOutput(rate, channels, fill, userdata);
    if (output.pipewire == nullptr) output.pulse = openPulseOutput(rate, channels, fill, userdata);
    if (output.pipewire == nullptr && output.pulse == nullptr) return nullptr;
    return new ServerOutput(output);
}

void closeServerOutput(ServerOutput* output) {
    if (output->pipewire != nullptr) closePipeWireOutput(output->pipewire);
    if (output->pulse != nullptr) closePulseOutput(output->pulse);
    delete output;
}

void lockServerOutput(ServerOutput* output) {
    if (output->pipewire != nullptr) lockPipeWireOutput(output->pipewire);
    else lockPulseOutput(output->pulse);
}

void unlockServerOutput(ServerOutput* output) {
    if (output->pipewire != nullptr) unlockPipeWireOutput(output->pipewire);
    else unlockPulseOutput(output->pulse);
}

std::optional<std::chrono::steady_clock::time_point> serverFrameHeardAt(ServerOutput* output, long long frame,
                                                                        ServerReport report) {
    if (output->pipewire != nullptr) return pipeWireFrameHeardAt(output->pipewire, frame, report);
    return pulseFrameHeardAt(output->pulse, frame, report);
}

}  // namespace quarvel::platform
