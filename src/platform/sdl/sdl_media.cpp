// The soundtrack media service, with libmpg123 as the decoder. It plays through a stream of its
// own on the PipeWire or PulseAudio server where one answers, and through SDL2's audio output
// otherwise, or wherever SDL_AUDIODRIVER names SDL's driver.
// Implemented: the whole file is checked and decoded while the graph is rendered, so the output's
// thread only copies; the output is opened then and runs silent until runMedia, which returns
// when the first sample is being heard; the last samples are let out before the output closes;
// an output that stops (a sound server that goes away) leaves the show running silently.
// Left out: reconnecting to a sound server that comes back.
#include "platform/common/media_references.h"
#include "platform/common/mp3_check.h"
#include "platform/platform.h"
#include "platform/posix/server_output.h"
#include "platform/posix/realtime_thread.h"
#include "platform/sdl/sdl_start.h"

#include <SDL.h>
#include <alsa/asoundlib.h>
#include <algorithm>
#include <cassert>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mpg123.h>
#include <semaphore>
#include <thread>
#include <vector>

namespace quarvel::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int outputChannels = 2;

// SDL's buffer, 4096 frames, 93 ms at 44.1 kHz: a busy machine may hold the audio thread off the
// processor for tens of milliseconds without the server running dry. The depth costs no
// synchronisation, since runMedia waits until the first sample comes out; it only delays the
// first frame by up to that.
constexpr int outputFrames = 4096;

// How long runMedia waits for the audio thread to take the first samples before it gives up on
// an output that has stopped, and lets the show go on silent.
constexpr std::chrono::milliseconds startTimeout{1000};

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
    // one of the two outputs, open after a complete render
    ServerOutput* server = nullptr;
    SDL_AudioDeviceID device = 0;
    std::binary_semaphore started{0};  // released by the output when it takes the first samples of a run
    Clock::time_point openedAt;  // when the SDL device opened, before the callback ran
    int rate = 0;          // of the output, in frames a second
    int bufferFrames = 0;  // what SDL's callback fills at a time
    std::vector<int16_t> samples;  // the whole file, interleaved stereo

    // shared with the output's thread, which runs under the output's lock
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

// Fills `wanted` samples of output: from the file while playing, silence otherwise, and starts a
// run that was asked for when `mayStart`. Only copies: the file was decoded before playback began.
void fillSamples(MediaGraph& graph, int16_t* out, std::size_t wanted, Clock::time_point now, bool mayStart) {
    std::size_t copied = 0;
    if (graph.startAsked && mayStart) {
        graph.startAsked = false;
        graph.playing = true;
        graph.leadIn = leadInFrames * outputChannels;
        graph.startedAt = now;
        graph.framesBeforeStart = graph.framesTaken;
        graph.started.release();
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

void fillSdlOutput(void* userdata, Uint8* stream, int length) {
    MediaGraph& graph = *static_cast<MediaGraph*>(userdata);
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
    fillSamples(graph, reinterpret_cast<int16_t*>(stream), static_cast<std::size_t>(length) / sizeof(int16_t), now,
                graph.callbacks > 1);
}

// The server's stream counts its frames as the output does: from 0, every one it was given.
void fillServerOutput(void* userdata, int16_t* out, std::size_t frames) {
    fillSamples(*static_cast<MediaGraph*>(userdata), out, frames * outputChannels, Clock::now(), true);
}

// The output's lock, whichever output it is: the output's thread fills nothing while it is held.
class OutputLock {
public:
    explicit OutputLock(MediaGraph& graph) : graph_(graph) {
        if (graph_.server != nullptr) lockServerOutput(graph_.server);
        else SDL_LockAudioDevice(graph_.device);
    }
    ~OutputLock() {
        if (graph_.server != nullptr) unlockServerOutput(graph_.server);
        else SDL_UnlockAudioDevice(graph_.device);
    }
    OutputLock(const OutputLock&) = delete;
    OutputLock& operator=(const OutputLock&) = delete;

private:
    MediaGraph& graph_;
};

// When a frame is heard that lies `within` frames into the buffer that started at output frame
// `bufferStart` and that the output filled at `takenAt`. The server says so where it can, from a
// `report` asked for now or from its last.
// SDL's output says nothing: it plays at its rate from its first buffer on, so the frame comes out
// after all that went before it; but never before the callback took it, nor more than the one
// buffer the output holds ahead later. PulseAudio's null sink takes the first frame of the file
// within 6 ms of this; PipeWire's, which starts a stream at its next cycle, up to 12 ms after.
Clock::time_point heardAt(const MediaGraph& graph, long long bufferStart, long long within, Clock::time_point takenAt,
                          ServerReport report) {
    if (graph.server != nullptr) {
        const auto reported = serverFrameHeardAt(graph.server, bufferStart + within, report);
        return reported ? *reported : Clock::now();
    }
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
    // SDL_AUDIODRIVER picks one of SDL's drivers, its PulseAudio driver among them
    if (std::getenv("SDL_AUDIODRIVER") == nullptr) {
        graph.rate = static_cast<int>(rate);
        graph.server = openServerOutput(graph.rate, outputChannels, fillServerOutput, &graph);
        if (graph.server != nullptr) return true;
    }
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
    wanted.callback = fillSdlOutput;
    wanted.userdata = &graph;
    SDL_AudioSpec obtained{};
    // SDL converts to whatever the device takes; the callback always sees the file's format
    graph.device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (graph.device == 0) {
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

bool hasOutput(const MediaGraph& graph) {
    return graph.server != nullptr || graph.device != 0;
}

// Waits until the last sample the output took has come out of it, if it took the last one of the
// file recently.
void letOutTheEnd(MediaGraph& graph) {
    bool ended = false;
    long long endBufferStart = 0;
    long long endWithin = 0;
    Clock::time_point endTakenAt;
    {
        const OutputLock lock(graph);
        ended = graph.playing && graph.position == graph.samples.size();
        endBufferStart = graph.endBufferStart;
        endWithin = graph.endWithin;
        endTakenAt = graph.endTakenAt;
    }
    if (!ended || (graph.device != 0 && SDL_GetAudioDeviceStatus(graph.device) != SDL_AUDIO_PLAYING)) return;
    // a server that says the end is further off than the output holds is wrong
    const std::chrono::milliseconds longestWait{500};
    // the last report is good enough, and asks nothing of a server that may no longer answer
    const Clock::time_point endHeardAt = heardAt(graph, endBufferStart, endWithin, endTakenAt, ServerReport::last);
    std::this_thread::sleep_until(std::min(endHeardAt, Clock::now() + longestWait));
}

}  // namespace

int32_t& referencesOf(MediaGraph* graph) {
    return graph->references;
}

void destroyMediaGraph(MediaGraph* graph) {
    if (hasOutput(*graph)) letOutTheEnd(*graph);
    if (graph->server != nullptr) closeServerOutput(graph->server);
    if (graph->device != 0) {
        SDL_CloseAudioDevice(graph->device);
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
    if (!hasOutput(*graph)) return;
    const OutputLock lock(*graph);
    graph->position = 0;
}

void stopMedia(MediaControl control) {
    MediaGraph* graph = control.graph;
    assert(graph != nullptr);
    if (!hasOutput(*graph)) return;
    const OutputLock lock(*graph);
    graph->playing = false;
    graph->startAsked = false;
}

// Returns when the first sample of this run is being heard: the output starts a buffer with the
// lead-in, and the sample comes out after all the output took before it, and the server's delay.
void runMedia(MediaControl control) {
    MediaGraph* graph = control.graph;
    assert(graph != nullptr);
    if (!hasOutput(*graph)) return;
    bool alreadyAsked = false;
    {
        const OutputLock lock(*graph);
        alreadyAsked = graph->playing || graph->startAsked;
        if (!alreadyAsked) {
            // a run that began after an earlier runMedia stopped waiting for it left this released
            static_cast<void>(graph->started.try_acquire());
            graph->startAsked = true;
        }
    }
    if (alreadyAsked) return;
    // an output that has stopped takes nothing: the show goes on without waiting for it
    if (!graph->started.try_acquire_for(startTimeout)) return;
    long long framesBeforeStart = 0;
    Clock::time_point startedAt;
    {
        const OutputLock lock(*graph);
        framesBeforeStart = graph->framesBeforeStart;
        startedAt = graph->startedAt;
    }
    std::this_thread::sleep_until(heardAt(*graph, framesBeforeStart, leadInFrames, startedAt, ServerReport::fresh));
}

}  // namespace quarvel::platform
