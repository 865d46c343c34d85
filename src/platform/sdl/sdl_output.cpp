// The soundtrack's output through SDL2's audio device, where no sound server answers or
// SDL_AUDIODRIVER names one of SDL's drivers. SDL says nothing of when a frame is heard: the
// output guesses it from when its callback runs.
// Left out: opening the device again once SDL reports it lost.
#include "platform/sdl/sdl_output.h"

#include "platform/sdl/sdl_start.h"
#include "platform/sound/realtime_thread.h"

#include <SDL.h>
#include <algorithm>
#include <alsa/asoundlib.h>

namespace quarvel::platform {

namespace {

// SDL's buffer, 4096 frames, 93 ms at 44.1 kHz: a busy machine may hold the audio thread off the
// processor for tens of milliseconds without the server running dry. The depth costs no
// synchronisation, since the start waits until the first frame comes out.
constexpr int outputFrames = 4096;

// SDL's thread writes silence of its own while the device is paused, and may write a buffer
// before the output unpauses it. The output then holds that buffer when the callback first runs,
// and the two cases differ in their first callbacks. A fresh output takes the first buffer at once
// (within 5 ms on PulseAudio and PipeWire) and has room for the next 20 to 50 ms later; one that
// holds a buffer already makes the first callback wait 20 ms and more for room, and the second
// until the silence has played and more, 100 ms and more after the device opened. Each sign
// alone may come of a busy machine; both together seldom. The second is counted from the opening,
// not from the first callback: a first callback that is late as well would shorten the gap
// between the two by its lateness.
constexpr std::chrono::milliseconds lateFirstCallback{10};
constexpr double lateSecondCallbackOfBuffer = 0.9;

class SdlOutput final : public SoundOutput {
public:
    ~SdlOutput() override {
        if (device != 0) SDL_CloseAudioDevice(device);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }

    bool lost() override { return SDL_GetAudioDeviceStatus(device) != SDL_AUDIO_PLAYING; }
    bool reconnects() const override { return false; }

    SoundClock::duration framesTime(long long frames) const {
        return std::chrono::duration_cast<SoundClock::duration>(
            std::chrono::duration<double>(static_cast<double>(frames) / rate));
    }

    // When the buffer taken at `takenAt`, which begins at output frame `framesTaken`, starts to be
    // heard: SDL's output plays at its rate from its first buffer on, so the frame comes out after
    // all that went before it; but never before the callback took it, nor more than the one buffer
    // the output holds ahead later. A callback later than that means the output ran dry, and the
    // count starts again from it.
    SoundClock::time_point heardAt(SoundClock::time_point takenAt) {
        const SoundClock::time_point played = firstTakenAt + framesTime(framesTaken);
        if (played < takenAt) firstTakenAt += takenAt - played;
        return std::clamp(played, takenAt, takenAt + framesTime(bufferFrames));
    }

    SDL_AudioDeviceID device = 0;
    SoundSource* source = nullptr;
    SoundClock::time_point openedAt;  // when the device opened, before the callback ran
    int rate = 0;
    int bufferFrames = 0;  // what the callback fills at a time
    // the callback's own
    int callbacks = 0;
    long long framesTaken = 0;            // since the output opened, silence included
    SoundClock::time_point firstTakenAt;  // when the output took its first buffer
};

// Whether the output held a buffer of SDL's silence before the callback's first, judged at the
// second callback, `secondAt`.
bool heldSilenceFirst(const SdlOutput& output, SoundClock::time_point secondAt) {
    return output.firstTakenAt - output.openedAt > lateFirstCallback &&
           secondAt - output.openedAt > lateSecondCallbackOfBuffer * output.framesTime(output.bufferFrames);
}

void fillSdlOutput(void* userdata, Uint8* stream, int length) {
    SdlOutput& output = *static_cast<SdlOutput*>(userdata);
    const SoundClock::time_point now = SoundClock::now();
    const auto frames = static_cast<std::size_t>(length) / (2 * sizeof(int16_t));
    std::optional<SoundClock::time_point> heardAt;
    if (output.callbacks == 0) {
        // SDL asks RealtimeKit for a real-time thread, which a desktop without it, or one that
        // lets this user have one by its limits instead, does not give
        makeThisThreadRealtime();
        output.firstTakenAt = now;
    } else {
        if (output.callbacks == 1 && heldSilenceFirst(output, now)) {
            output.firstTakenAt = output.openedAt;
            output.framesTaken += output.bufferFrames;
        }
        // a run starts from the second buffer on, once it is known whether SDL's silence went first
        heardAt = output.heardAt(now);
    }
    ++output.callbacks;
    output.source->fill(reinterpret_cast<int16_t*>(stream), frames, heardAt);
    output.framesTaken += static_cast<long long>(frames);
}

// libasound reports every device it fails to open on stderr ("ALSA lib ..."), which SDL's ALSA
// driver meets on a machine with no sound at all; the failure line already says the run is silent.
void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

std::unique_ptr<SoundOutput> openSdlOutput(int rate, int channels, SoundSource& source) {
    snd_lib_error_set_handler(ignoreAlsaError);
    // the callback only copies, but a thread the system lets run ahead of others keeps it on time
    // when the machine is busy: SDL asks for it through RealtimeKit, and the callback directly
    SDL_SetHint(SDL_HINT_THREAD_FORCE_REALTIME_TIME_CRITICAL, "1");
    if (!startSdlSubsystems(SDL_INIT_AUDIO)) return nullptr;
    auto output = std::make_unique<SdlOutput>();
    output->source = &source;
    SDL_AudioSpec wanted{};
    wanted.freq = rate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = static_cast<Uint8>(channels);
    wanted.samples = outputFrames;
    wanted.callback = fillSdlOutput;
    wanted.userdata = output.get();
    SDL_AudioSpec obtained{};
    // SDL converts to whatever the device takes; the callback always sees the file's format
    output->device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (output->device == 0) return nullptr;
    output->openedAt = SoundClock::now();
    output->rate = obtained.freq;
    output->bufferFrames = obtained.samples;
    // silence until the feed starts, every buffer counted from the first
    SDL_PauseAudioDevice(output->device, 0);
    return output;
}

}  // namespace quarvel::platform
