// The soundtrack media service of the Linux desktop, with libmpg123 as the decoder. It plays
// through a stream of its own on the PipeWire or PulseAudio server where one answers, and through
// SDL2's audio output otherwise, or wherever SDL_AUDIODRIVER names one of SDL's drivers.
// Implemented: the whole file is checked and decoded while the graph is rendered, so the output's
// thread only copies; the output is opened then, within a time limit that Escape and the stop
// signals cut short, and runs silent until runMedia, which returns when the first frame is heard;
// the sound keeps its place against that moment through dropouts, stalls and moves to other
// sinks (sound_feed.h); a sound server that goes away is connected to again once a second, the
// show going on silently meanwhile; the last frames are let out before the output closes.
// Left out: SDL's own output is not opened again once it stops.
#include "platform/common/media_references.h"
#include "platform/common/mp3_check.h"
#include "platform/platform.h"
#include "platform/sdl/sdl_output.h"
#include "platform/sdl/sdl_start.h"
#include "platform/sound/sound_feed.h"

#include <algorithm>
#include <cassert>
#include <condition_variable>
#include <cstdlib>
#include <mpg123.h>
#include <mutex>
#include <thread>
#include <vector>

namespace quarvel::platform {

namespace {

using namespace std::chrono_literals;

// How long the first connection to a sound server may take, all its questions together, before
// the run goes on without sound.
constexpr auto openTimeout = 2s;

// How long runMedia waits for the output to take the start before the show goes on without it.
constexpr auto startTimeout = 1s;

// How often a server that went away is looked for again.
constexpr auto reconnectInterval = 1s;

// At the end, the wait for the last frames to be heard, at most: a server that says the end is
// further off than the output holds is wrong.
constexpr auto longestLetOut = 500ms;

bool interruptedOnMainThread(void*) {
    return escapeOrStopDuringWait();
}

OpenLimits mainThreadLimits(SoundClock::duration timeout) {
    return {SoundClock::now() + timeout, interruptedOnMainThread, nullptr};
}

}  // namespace

struct MediaGraph {
    int32_t references = 1;
    bool rendered = false;
    std::unique_ptr<SoundFeed> feed;      // set once a render is complete
    std::unique_ptr<SoundOutput> output;  // the keeper's alone while it runs

    // the keeper: connects again to a server that went away
    std::thread keeper;
    std::mutex keeperLock;
    std::condition_variable keeperWake;
    bool closing = false;
};

namespace {

bool graphClosing(void* userdata) {
    auto& graph = *static_cast<MediaGraph*>(userdata);
    const std::lock_guard guard(graph.keeperLock);
    return graph.closing;
}

// Once a second: where the server dropped the stream, or went away, the stream goes and a new one
// is tried, which the feed places as soon as it says when its frames are heard.
void keepOutput(MediaGraph& graph) {
    for (;;) {
        {
            std::unique_lock guard(graph.keeperLock);
            if (graph.keeperWake.wait_for(guard, reconnectInterval, [&] { return graph.closing; })) return;
        }
        if (graph.output != nullptr && !graph.output->lost()) continue;
        if (graph.output != nullptr) {
            graph.output.reset();
            graph.feed->outputChanged();
        }
        const OpenLimits limits{SoundClock::now() + openTimeout, graphClosing, &graph};
        graph.output = openServerOutput(graph.feed->rate(), SoundFeed::channels, *graph.feed, limits).output;
    }
}

void stopKeeper(MediaGraph& graph) {
    if (!graph.keeper.joinable()) return;
    {
        const std::lock_guard guard(graph.keeperLock);
        graph.closing = true;
    }
    graph.keeperWake.notify_all();
    graph.keeper.join();
}

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
    if (frames > 0) samples.reserve(static_cast<std::size_t>(frames) * SoundFeed::channels);
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

bool openOutput(MediaGraph& graph) {
    SoundFeed& feed = *graph.feed;
    // SDL_AUDIODRIVER picks one of SDL's drivers, its PulseAudio driver among them
    if (std::getenv("SDL_AUDIODRIVER") == nullptr) {
        OpenedOutput opened =
            openServerOutput(feed.rate(), SoundFeed::channels, feed, mainThreadLimits(openTimeout));
        graph.output = std::move(opened.output);
        // SDL's drivers would wait on the same server that took the connection and said nothing
        if (opened.failure == OpenFailure::noAnswer) return false;
    }
    if (graph.output == nullptr) graph.output = openSdlOutput(feed.rate(), SoundFeed::channels, feed);
    if (graph.output == nullptr) return false;
    if (graph.output->reconnects()) graph.keeper = std::thread(keepOutput, std::ref(graph));
    return true;
}

// Sleeps until `time`, or until Escape or a stop signal comes.
void waitOnMainThreadUntil(SoundClock::time_point time) {
    while (SoundClock::now() < time && !escapeOrStopDuringWait())
        std::this_thread::sleep_for(std::min<SoundClock::duration>(time - SoundClock::now(), 5ms));
}

// Waits until the last frame the output took has been heard, if it took the last of the file.
void letOutTheEnd(MediaGraph& graph) {
    const std::optional<SoundClock::time_point> end = graph.feed->endHeardAt();
    if (!end || graph.output == nullptr || graph.output->lost()) return;
    std::this_thread::sleep_until(std::min(*end, SoundClock::now() + longestLetOut));
}

}  // namespace

int32_t& referencesOf(MediaGraph* graph) {
    return graph->references;
}

void destroyMediaGraph(MediaGraph* graph) {
    stopKeeper(*graph);
    if (graph->feed != nullptr) letOutTheEnd(*graph);
    graph->output.reset();
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
    std::vector<int16_t> samples;
    const long rate = decodeWholeFile(fileName, samples);
    if (rate == 0) return MediaRenderResult::failed;
    graph->feed = std::make_unique<SoundFeed>(std::move(samples), static_cast<int>(rate));
    if (!openOutput(*graph)) {
        graph->feed.reset();
        return MediaRenderResult::failed;
    }
    return MediaRenderResult::complete;
}

void seekMediaToStart(MediaSeeking seeking) {
    assert(seeking.graph != nullptr);
    if (seeking.graph->feed != nullptr) seeking.graph->feed->seekToStart();
}

void stopMedia(MediaControl control) {
    assert(control.graph != nullptr);
    if (control.graph->feed != nullptr) control.graph->feed->stop();
}

// Returns when the first frame of this run is being heard, or at once where the output does not
// take the start within a second; Escape and the stop signals end the wait as well.
void runMedia(MediaControl control) {
    MediaGraph* graph = control.graph;
    assert(graph != nullptr);
    if (graph->feed == nullptr || !graph->feed->askStart()) return;
    waitOnMainThreadUntil(graph->feed->waitForStart(mainThreadLimits(startTimeout)));
}

}  // namespace quarvel::platform
