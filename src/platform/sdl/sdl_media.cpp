// The soundtrack media service on SDL2's audio output, with libmpg123 as the decoder.
// Implemented: the whole file is checked and decoded while the graph is rendered, so the audio
// callback only copies; the output is opened then and runs silent until runMedia, which returns
// when the first sample is being heard; the last samples are let out before the output closes;
// an output that stops (a sound server that goes away) leaves the show running silently.
// Left out: reconnecting to a sound server that comes back.
#include "platform/common/media_references.h"
#include "platform/common/mp3_check.h"
#include "platform/platform.h"
#include "platform/posix/realtime_thread.h"
#include "platform/sdl/sdl_start.h"

#include <SDL.h>
#include <alsa/asoundlib.h>
#include <algorithm>
#include <cassert>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <mpg123.h>
#include <thread>
#include <vector>

namespace quarvel::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int outputChannels = 2;

// 4096 frames, 93 ms at 44.1 kHz: a busy machine may hold the audio thread off the processor for
// tens of milliseconds without the server running dry. The depth costs no synchronisation, since
// runMedia waits until the first sample comes out; it only delays the first frame by up to that.
constexpr int outputFrames = 4096;

// How long runMedia waits for the audio thread to take the first samples before it gives up on
// an output that has stopped, and lets the show go on silent.
constexpr int startTimeoutMs = 1000;

// A run starts with this much silence: a server whose stream ran dry while it played silence
// drops the start of what comes next to catch up (PulseAudio does, by a block of up to 5.8 ms),
// and this way it drops silence, not the first samples of the file.
constexpr int leadInFrames = 256;

// SDL's thread writes silence of its own while the device is paused, and may write a buffer
// before openOutput unpauses it. The output then holds that buffer when the callback first runs,
// and the two cases differ in their first callbacks. A fresh output takes the first buffer at once
// (within 5 ms on PulseAudio and PipeWire) and has room for the next 20 to 50 ms later; one that
// holds a buffer already makes the first callback wait 20 ms and more for room, and the second a
// whole buffer's time (93 ms). Each sign alone may come of a busy machine; both together seldom.
constexpr std::chrono::milliseconds lateFirstCallback{10};
constexpr double longSecondGapOfBuffer = 0.75;

}  // namespace

struct MediaGraph {
    int32_t references = 1;
    bool rendered = false;
    SDL_AudioDeviceID device = 0;  // open after a complete render
    SDL_sem* started = nullptr;    // posted by the callback when it takes the first samples of a run
    Clock::time_point openedAt;  // when the device opened, before the callback ran
    int rate = 0;          // of the output, in frames a second
    int bufferFrames = 0;  // what the callback fills at a time
    std::vector<int16_t> samples;  // the whole file, interleaved stereo

    // shared with the audio callback, which SDL runs under the device's lock
    std::size_t position = 0;  // in samples, not frames
    std::size_t leadIn = 0;    // samples of silence still to go before `position`
    bool startAsked = false;
    bool playing = false;
    int callbacks = 0;
    long long framesTaken = 0;         // by the output since it opened, silence included
    Clock::time_point firstTakenAt;    // when the output took its first buffer
    Clock::time_point startedAt;       // when the callback took the first buffer of this run
    long long framesBeforeStart = 0;   // what the output took before that buffer
    Clock::time_point endTakenAt;  // when it took the last sample of the file; unset before
    long long endBufferStart = 0;  // the output frame that began the buffer that holds it
    long long endWithin = 0;       // and where in that buffer it lies
};

namespace {

// Whether the output held a buffer of SDL's silence before the callback's first, judged at the
// second callback, `secondAt`.
bool heldSilenceFirst(const MediaGraph& graph, Clock::time_point secondAt) {
    const std::chrono::duration<double> bufferTime(static_cast<double>(graph.bufferFrames) / graph.rate);
    return graph.firstTakenAt - graph.openedAt > lateFirstCallback &&
           secondAt - graph.firstTakenAt > longSecondGapOfBuffer * bufferTime;
}

// Fills one output buffer: from the file while playing, silence otherwise. Only copies: the
// file was decoded before playback began.
void fillOutput(void* userdata, Uint8* stream, int length) {
    MediaGraph& graph = *static_cast<MediaGraph*>(userdata);
    auto* out = reinterpret_cast<int16_t*>(stream);
    const std::size_t wanted = static_cast<std::size_t>(length) / sizeof(int16_t);
    std::size_t copied = 0;
    const Clock::time_point now = Clock::now();
    if (graph.callbacks == 0) {
        // SDL asks RealtimeKit for a real-time thread, which a desktop without it, or one that
        // lets this user have one by its limits instead, does not give
        makeThisThreadRealtime();
        graph.firstTakenAt = now;
    } else if (graph.callbacks == 1 && heldSilenceFirst(graph, now)) {
        graph.firstTakenAt = graph.openedAt;
        graph.framesTaken += graph.bufferFrames;
    }
    ++graph.callbacks;
    // a run starts from the second buffer on, once it is known whether SDL's silence went first
    if (graph.startAsked && graph.callbacks > 1) {
        graph.startAsked = false;
        graph.playing = true;
        graph.leadIn = leadInFrames * outputChannels;
        graph.startedAt = now;
        graph.framesBeforeStart = graph.framesTaken;
        SDL_SemPost(graph.started);
    }
    if (graph.playing && graph.leadIn > 0) {
        copied = std::min(wanted, graph.leadIn);
        std::memset(out, 0, copied * sizeof(int16_t));
        graph.leadIn -= copied;
    }
    if (graph.playing && graph.leadIn == 0 && graph.position < graph.samples.size()) {
        const std::size_t n = std::min(wanted - copied, graph.samples.size() - graph.position);
        std::memcpy(out + copied, graph.samples.data() + graph.position, n * sizeof(int16_t));
        copied += n;
        graph.position += n;
        if (graph.position == graph.samples.size()) {
            graph.endTakenAt = Clock::now();
            graph.endBufferStart = graph.framesTaken;
            graph.endWithin = static_cast<long long>(copied / outputChannels) - 1;
        }
    }
    std::memset(out + copied, 0, (wanted - copied) * sizeof(int16_t));
    graph.framesTaken += static_cast<long long>(wanted / outputChannels);
}

// When a frame is heard that lies `within` frames into the buffer that started at output frame
// `bufferStart` and that the callback filled at `takenAt`. The output plays at its rate from its
// first buffer on, so the frame comes out after all that went before it; but never before the
// callback took it, nor more than the one buffer the output holds ahead later. A server adds
// little of its own: PulseAudio's and PipeWire's null sinks take the first frame of the file
// within 6 ms of this (tests/e2e/sound_server_test.sh).
Clock::time_point heardAt(const MediaGraph& graph, long long bufferStart, long long within, Clock::time_point takenAt) {
    const auto framesTime = [&](long long frames) {
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(static_cast<double>(frames) / graph.rate));
    };
    const Clock::time_point earliest = takenAt + framesTime(within);
    const Clock::time_point played = graph.firstTakenAt + framesTime(bufferStart + within);
    return std::clamp(played, earliest, earliest + framesTime(graph.bufferFrames));
}

// libasound reports every device it fails to open on stderr ("ALSA lib ..."), which SDL's ALSA
// driver meets on a machine with no sound at all; the failure line already says the run is silent.
void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

// Decodes all of the file into interleaved 16-bit stereo at its own rate; 0 when it cannot.
long decodeWholeFile(const std::string& fileName, std::vector<int16_t>& samples) {
    mpg123_handle* decoder = mpg123_new(nullptr, nullptr);
    if (decoder == nullptr) return 0;
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    mpg123_param(decoder, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    if (mpg123_open_fixed(decoder, fileName.c_str(), MPG123_STEREO, MPG123_ENC_SIGNED_16) != MPG123_OK ||
        mpg123_getformat(decoder, &rate, &channels, &encoding) != MPG123_OK) {
        mpg123_delete(decoder);
        return 0;
    }
    const off_t frames = mpg123_length(decoder);
    if (frames > 0) samples.reserve(static_cast<std::size_t>(frames) * outputChannels);
    std::vector<unsigned char> block(64 * 1024);
    int result = MPG123_OK;
    while (result == MPG123_OK) {
        std::size_t done = 0;
        result = mpg123_read(decoder, block.data(), block.size(), &done);
        const auto* decoded = reinterpret_cast<const int16_t*>(block.data());
        samples.insert(samples.end(), decoded, decoded + done / sizeof(int16_t));
    }
    mpg123_close(decoder);
    mpg123_delete(decoder);
    if (result != MPG123_DONE || samples.empty()) return 0;
    return rate;
}

bool openOutput(MediaGraph& graph, long rate) {
    snd_lib_error_set_handler(ignoreAlsaError);
    // the callback only copies, but a thread the system lets run ahead of others keeps it on time
    // when the machine is busy: SDL asks for it through RealtimeKit, and the callback directly
    SDL_SetHint(SDL_HINT_THREAD_FORCE_REALTIME_TIME_CRITICAL, "1");
    if (!startSdlSubsystems(SDL_INIT_AUDIO)) return false;
    SDL_AudioSpec wanted{};
    wanted.freq = static_cast<int>(rate);
    wanted.format = AUDIO_S16SYS;
    wanted.channels = outputChannels;
    wanted.samples = outputFrames;
    wanted.callback = fillOutput;
    wanted.userdata = &graph;
    SDL_AudioSpec obtained{};
    graph.started = SDL_CreateSemaphore(0);
    // SDL converts to whatever the device takes; the callback always sees the file's format
    graph.device = graph.started == nullptr ? 0 : SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (graph.device == 0) {
        if (graph.started != nullptr) SDL_DestroySemaphore(graph.started);
        graph.started = nullptr;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    graph.openedAt = Clock::now();
    graph.rate = obtained.freq;
    graph.bufferFrames = obtained.samples;
    // silence until runMedia, every buffer counted from the first
    SDL_PauseAudioDevice(graph.device, 0);
    return true;
}

// Waits until the last sample the callback took has come out of the output, if it took the
// last one of the file recently.
void letOutTheEnd(MediaGraph& graph) {
    SDL_LockAudioDevice(graph.device);
    const bool ended = graph.playing && graph.position == graph.samples.size();
    const Clock::time_point endHeardAt = heardAt(graph, graph.endBufferStart, graph.endWithin, graph.endTakenAt);
    SDL_UnlockAudioDevice(graph.device);
    if (ended && SDL_GetAudioDeviceStatus(graph.device) == SDL_AUDIO_PLAYING)
        std::this_thread::sleep_until(endHeardAt);
}

}  // namespace

int32_t& referencesOf(MediaGraph* graph) {
    return graph->references;
}

void destroyMediaGraph(MediaGraph* graph) {
    if (graph->device != 0) {
        letOutTheEnd(*graph);
        SDL_CloseAudioDevice(graph->device);
        SDL_DestroySemaphore(graph->started);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    delete graph;
}

MediaGraph* createMediaGraph() {
    return new MediaGraph;
}

MediaRenderResult renderMediaFile(MediaGraph* graph, const std::string& fileName) {
    assert(graph != nullptr && !graph->rendered);
    if (graph->rendered) return MediaRenderResult::failed;
    graph->rendered = true;
    // the decoder would play a damaged file as far as it goes and call that success
    if (!isCompleteMp3(fileName)) return MediaRenderResult::failed;
    const long rate = decodeWholeFile(fileName, graph->samples);
    if (rate == 0 || !openOutput(*graph, rate)) {
        graph->samples = {};
        return MediaRenderResult::failed;
    }
    return MediaRenderResult::complete;
}

void seekMediaToStart(MediaSeeking seeking) {
    MediaGraph* graph = seeking.graph;
    assert(graph != nullptr);
    if (graph->device == 0) return;
    SDL_LockAudioDevice(graph->device);
    graph->position = 0;
    SDL_UnlockAudioDevice(graph->device);
}

void stopMedia(MediaControl control) {
    MediaGraph* graph = control.graph;
    assert(graph != nullptr);
    if (graph->device == 0) return;
    SDL_LockAudioDevice(graph->device);
    graph->playing = false;
    graph->startAsked = false;
    SDL_UnlockAudioDevice(graph->device);
}

// Returns when the first sample of this run is being heard: the callback starts a buffer with the
// lead-in, and the sample comes out after all the output took before it, and the server's delay.
void runMedia(MediaControl control) {
    MediaGraph* graph = control.graph;
    assert(graph != nullptr);
    if (graph->device == 0) return;
    SDL_LockAudioDevice(graph->device);
    const bool alreadyAsked = graph->playing || graph->startAsked;
    graph->startAsked = !alreadyAsked;
    SDL_UnlockAudioDevice(graph->device);
    if (alreadyAsked) return;
    // an output that has stopped takes nothing: the show goes on without waiting for it
    if (SDL_SemWaitTimeout(graph->started, startTimeoutMs) != 0) return;
    SDL_LockAudioDevice(graph->device);
    const Clock::time_point firstHeardAt =
        heardAt(*graph, graph->framesBeforeStart, leadInFrames, graph->startedAt);
    SDL_UnlockAudioDevice(graph->device);
    std::this_thread::sleep_until(firstHeardAt);
}

}  // namespace quarvel::platform
