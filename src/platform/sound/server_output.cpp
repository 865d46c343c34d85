// Choosing the stream for the sound server a desktop runs.
#include "platform/sound/server_streams.h"

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

OpenedOutput openServerOutput(int rate, int channels, SoundSource& source, const OpenLimits& limits) {
    // PipeWire's server answers PulseAudio's protocol too, but only its own stream says when a
    // frame is heard to the cycle; a PipeWire that runs beside PulseAudio plays no sound, so it
    // is the PulseAudio server that says which one plays
    const PulseServerInfo server = askPulseServer(limits);
    if (server.failure != OpenFailure::none) return {nullptr, server.failure};
    if (server.isPipeWire && pulseServerIsLocal()) {
        OpenedOutput pipewire = openPipeWireOutput(rate, channels, source, limits);
        if (pipewire.output != nullptr) return pipewire;
    }
    return openPulseOutput(rate, channels, source, limits);
}

}  // namespace quarvel::platform
