// The one interface of the soundtrack's outputs: a stream on a PipeWire or PulseAudio server, or
// SDL's audio device. An output only moves samples and says when they will be heard; what to
// play, and where in the file, is decided above it (sound_feed.h), once for all three.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace quarvel::platform {

using SoundClock = std::chrono::steady_clock;

// What an output plays: asked for each buffer on the output's own thread, with the time its
// first frame will come out of the speakers where the output knows it. Never blocks for long.
class SoundSource {
public:
    virtual void fill(int16_t* out, std::size_t frames,
                      std::optional<SoundClock::time_point> firstHeardAt) = 0;

protected:
    ~SoundSource() = default;
};

// How long opening an output may wait on a server, and what cuts the wait short (Escape, a stop
// signal, a closing graph). Checked every few milliseconds on the opening thread.
struct OpenLimits {
    SoundClock::time_point deadline = SoundClock::now();
    bool (*interrupted)(void* userdata) = nullptr;
    void* userdata = nullptr;

    bool expired() const {
        return SoundClock::now() >= deadline || (interrupted != nullptr && interrupted(userdata));
    }
};

// Why no output opened: no server took the connection at all, or one took it and did not answer
// within the limits, which another client of the same server would meet too.
enum class OpenFailure { none, noServer, noAnswer };

// Open from the first fill to the destructor, which returns once `fill` is no longer called.
class SoundOutput {
public:
    virtual ~SoundOutput() = default;
    // The server went away or dropped the stream: nothing will be heard from this output again.
    virtual bool lost() = 0;
    // Whether it can be opened again after it is lost, as a server that restarts can.
    virtual bool reconnects() const = 0;
};

struct OpenedOutput {
    std::unique_ptr<SoundOutput> output;
    OpenFailure failure = OpenFailure::noServer;
};

// A stream on the sound server this process would reach (PULSE_SERVER, or the user's own),
// started without starting a server: PipeWire's own where the server is PipeWire's and on this
// machine, PulseAudio's protocol otherwise. Plays from `source` at once.
OpenedOutput openServerOutput(int rate, int channels, SoundSource& source, const OpenLimits& limits);

}  // namespace quarvel::platform
