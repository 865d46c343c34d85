// A playback stream on the sound server a desktop runs: PipeWire, natively where it is the
// server, or PulseAudio. Unlike SDL's output it can tell when a frame it was given is heard,
// since the server reports how far its sink has played.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace quarvel::platform {

struct ServerOutput;

// Fills the next `frames` interleaved 16-bit frames of the stream at `out`; the stream's frames
// count from 0 at its start, silence included. Runs on the output's own thread with the output
// locked, as often as the server asks.
using ServerFill = void (*)(void* userdata, int16_t* out, std::size_t frames);

// When the server says how far it has played: from a report asked for now (which waits for the
// server's answer where it has to be asked) or from its last.
enum class ServerReport { fresh, last };

// Connects to the server this process would reach (PULSE_SERVER, or the user's own) without
// starting one, and plays from `fill` at once. Null where no server answers.
// The PipeWire stream is opened where the PulseAudio server says it is PipeWire's and is on this
// machine; PipeWire's own connection goes to the same server (PIPEWIRE_REMOTE, or the user's).
ServerOutput* openServerOutput(int rate, int channels, ServerFill fill, void* userdata);
void closeServerOutput(ServerOutput* output);

// While locked, `fill` does not run: what it shares with its caller may change.
void lockServerOutput(ServerOutput* output);
void unlockServerOutput(ServerOutput* output);

// When stream frame `frame` comes out of the sink. Nothing where the server no longer plays the
// stream. Called unlocked.
std::optional<std::chrono::steady_clock::time_point> serverFrameHeardAt(ServerOutput* output, long long frame,
                                                                        ServerReport report);

}  // namespace quarvel::platform
