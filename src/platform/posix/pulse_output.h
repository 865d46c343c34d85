// A playback stream on a sound server that speaks PulseAudio's protocol: PulseAudio itself, or
// PipeWire through pipewire-pulse. Unlike SDL's output it can tell when a frame it was given is
// heard, since the server reports how far the sink has played.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace quarvel::platform {

struct PulseOutput;

// Fills the next `frames` interleaved 16-bit frames of the stream at `out`; the stream's frames
// count from 0 at its start, silence included. Runs on the output's own thread with the output
// locked, as often as the server asks.
using PulseFill = void (*)(void* userdata, int16_t* out, std::size_t frames);

// Connects to the server this process would reach (PULSE_SERVER, or the user's own) without
// starting one, and plays from `fill` at once. Null where no server answers.
PulseOutput* openPulseOutput(int rate, int channels, PulseFill fill, void* userdata);
void closePulseOutput(PulseOutput* output);

// While locked, `fill` does not run: what it shares with its caller may change.
void lockPulseOutput(PulseOutput* output);
void unlockPulseOutput(PulseOutput* output);

// When stream frame `frame` comes out of the sink, from the server's reports of its progress,
// with one asked for now (which waits for the server's answer) or from the last. Nothing where
// the server no longer plays the stream. Called unlocked.
enum class PulseReport { fresh, last };
std::optional<std::chrono::steady_clock::time_point> pulseFrameHeardAt(PulseOutput* output, long long frame,
                                                                       PulseReport report);

}  // namespace quarvel::platform
