// A playback stream through PulseAudio's protocol: PulseAudio itself, or PipeWire through
// pipewire-pulse. The stream never waits for data (no pre-buffering), so the server's read index
// runs on through a dropout and what comes late is dropped there, not played late; the server's
// timing reports say when each frame written is heard.
#include "platform/sound/realtime_thread.h"
#include "platform/sound/server_streams.h"

#include <cstring>
#include <optional>
#include <pulse/pulseaudio.h>
#include <thread>

namespace quarvel::platform {

namespace {

// What the server holds of the stream ahead of the sink, the sink's own latency included: deep
// enough for a stall of the whole machine, server included, of a few hundred milliseconds
// without the sink running dry when it catches up. It costs no synchronisation, since the
// output knows when each frame is heard.
constexpr pa_usec_t bufferUsec = 300'000;

// How often a wait on the server looks at its limits.
constexpr std::chrono::milliseconds waitStep{2};

// Waits until `ready` gives an answer or the limits run out. `ready` runs with `loop` locked, as
// the caller holds it; the loop's thread runs in between.
template <class Ready>
std::optional<bool> waitLocked(pa_threaded_mainloop* loop, const OpenLimits& limits, Ready ready) {
    for (;;) {
        if (const std::optional<bool> answer = ready()) return answer;
        if (limits.expired()) return std::nullopt;
        pa_threaded_mainloop_unlock(loop);
        std::this_thread::sleep_for(waitStep);
        pa_threaded_mainloop_lock(loop);
    }
}

class PulseOutput final : public SoundOutput {
public:
    ~PulseOutput() override {
        if (loop != nullptr) pa_threaded_mainloop_stop(loop);
        if (stream != nullptr) {
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
        if (context != nullptr) {
            pa_context_disconnect(context);
            pa_context_unref(context);
        }
        if (loop != nullptr) pa_threaded_mainloop_free(loop);
    }

    bool lost() override {
        pa_threaded_mainloop_lock(loop);
        const bool gone = !PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) ||
                          !PA_STREAM_IS_GOOD(pa_stream_get_state(stream));
        pa_threaded_mainloop_unlock(loop);
        return gone;
    }

    bool reconnects() const override { return true; }

    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    pa_sample_spec format{};
    SoundSource* source = nullptr;
    bool realtimeAsked = false;
    long long framesWritten = 0;  // the stream's write index, in frames
};

// When stream frame `frame` is heard. While the stream plays, from the server's latest report:
// at the report's moment the frame at its read index was the sink's latency away from being
// heard, and the sink has taken the stream's frames at the stream's rate since. PulseAudio's own
// interpolation between reports estimates that rate, and on a machine short of time the estimate
// was seen to run 4% fast for seconds after a dropout, the sound drifting 80 ms late with it; it
// serves only until a report finds the stream playing.
std::optional<SoundClock::time_point> heardAt(PulseOutput& output, long long frame) {
    const auto usecOf = [&](long long frames) {
        return std::chrono::microseconds(
            static_cast<long long>(static_cast<double>(frames) * 1e6 / output.format.rate));
    };
    const pa_timing_info* timing = pa_stream_get_timing_info(output.stream);
    if (timing != nullptr && timing->playing != 0 && timing->read_index_corrupt == 0) {
        // the report's moment is on the wall clock: its age carries it over to ours
        const auto age = std::chrono::microseconds(pa_timeval_age(&timing->timestamp));
        const long long readFrame = timing->read_index / static_cast<int64_t>(pa_frame_size(&output.format));
        return SoundClock::now() - age + std::chrono::microseconds(timing->sink_usec) +
               usecOf(frame - readFrame);
    }
    pa_usec_t playedUsec = 0;
    if (pa_stream_get_time(output.stream, &playedUsec) != 0) return std::nullopt;
    return SoundClock::now() + usecOf(frame) - std::chrono::microseconds(playedUsec);
}

void onWriteRequest(pa_stream* stream, std::size_t bytes, void* userdata) {
    PulseOutput& output = *static_cast<PulseOutput*>(userdata);
    if (!output.realtimeAsked) {
        // the thread that feeds the server runs ahead of ordinary ones where the system allows it
        makeThisThreadRealtime();
        output.realtimeAsked = true;
    }
    const std::size_t frameBytes = pa_frame_size(&output.format);
    while (bytes >= frameBytes) {
        void* data = nullptr;
        std::size_t size = bytes;
        if (pa_stream_begin_write(stream, &data, &size) < 0 || data == nullptr) return;
        const std::size_t frames = size / frameBytes;
        output.source->fill(static_cast<int16_t*>(data), frames, heardAt(output, output.framesWritten));
        if (pa_stream_write(stream, data, frames * frameBytes, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
        output.framesWritten += static_cast<long long>(frames);
        bytes -= frames * frameBytes;
    }
}

// A move to another sink, a dropout or a start changes when what is written is heard: the next
// report says by how much, sooner than the server's own round of reports would.
void askForTiming(pa_stream* stream, void*) {
    if (pa_operation* update = pa_stream_update_timing_info(stream, nullptr, nullptr))
        pa_operation_unref(update);
}

bool connectStream(PulseOutput& output) {
    output.stream = pa_stream_new(output.context, "Soundtrack", &output.format, nullptr);
    if (output.stream == nullptr) return false;
    pa_stream_set_write_callback(output.stream, onWriteRequest, &output);
    pa_stream_set_moved_callback(output.stream, askForTiming, nullptr);
    pa_stream_set_underflow_callback(output.stream, askForTiming, nullptr);
    pa_stream_set_started_callback(output.stream, askForTiming, nullptr);
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.tlength = static_cast<uint32_t>(pa_usec_to_bytes(bufferUsec, &output.format));
    attributes.prebuf = 0;
    attributes.minreq = static_cast<uint32_t>(-1);
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                       PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_NOT_MONOTONIC);
    return pa_stream_connect_playback(output.stream, nullptr, &attributes, flags, nullptr, nullptr) >= 0;
}

// Until the context is ready: whether it is, or nothing while it still tries.
std::optional<bool> contextReady(pa_context* context) {
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY) return true;
    if (!PA_CONTEXT_IS_GOOD(state)) return false;
    return std::nullopt;
}

}  // namespace

PulseServerInfo askPulseServer(const OpenLimits& limits) {
    PulseServerInfo info;
    pa_mainloop* loop = pa_mainloop_new();
    if (loop == nullptr) return info;
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Quarvel");
    std::optional<bool> isPipeWire;
    const auto onServerInfo = [](pa_context*, const pa_server_info* server, void* userdata) {
        *static_cast<std::optional<bool>*>(userdata) =
            server != nullptr && std::strstr(server->server_name, "PipeWire") != nullptr;
    };
    if (context != nullptr && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        pa_operation* query = nullptr;
        info.failure = OpenFailure::noAnswer;
        while (!isPipeWire) {
            const std::optional<bool> ready = contextReady(context);
            if (ready == false) {
                info.failure = OpenFailure::noServer;
                break;
            }
            if (ready == true && query == nullptr) {
                query = pa_context_get_server_info(context, onServerInfo, &isPipeWire);
                if (query == nullptr) break;
            }
            if (limits.expired()) break;
            // a server that took the connection and never answers is waited for within the limits
            if (pa_mainloop_prepare(loop, static_cast<int>(std::chrono::microseconds(waitStep).count())) <
                    0 ||
                pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0)
                break;
        }
        if (isPipeWire) {
            info.failure = OpenFailure::none;
            info.isPipeWire = *isPipeWire;
        }
        if (query != nullptr) pa_operation_unref(query);
        pa_context_disconnect(context);
    }
    if (context != nullptr) pa_context_unref(context);
    pa_mainloop_free(loop);
    return info;
}

OpenedOutput openPulseOutput(int rate, int channels, SoundSource& source, const OpenLimits& limits) {
    auto output = std::make_unique<PulseOutput>();
    output->format = {PA_SAMPLE_S16NE, static_cast<uint32_t>(rate), static_cast<uint8_t>(channels)};
    output->source = &source;
    output->loop = pa_threaded_mainloop_new();
    if (output->loop == nullptr || !pa_sample_spec_valid(&output->format)) return {};
    pa_threaded_mainloop_set_name(output->loop, "quarvel-sound");
    output->context = pa_context_new(pa_threaded_mainloop_get_api(output->loop), "Quarvel");
    if (output->context == nullptr) return {};

    pa_threaded_mainloop_lock(output->loop);
    std::optional<bool> ready;
    if (pa_context_connect(output->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
        pa_threaded_mainloop_start(output->loop) >= 0) {
        ready = waitLocked(output->loop, limits, [&] { return contextReady(output->context); });
        if (ready == true) {
            ready = connectStream(*output);
            if (ready == true) {
                ready = waitLocked(output->loop, limits, [&]() -> std::optional<bool> {
                    const pa_stream_state_t state = pa_stream_get_state(output->stream);
                    if (state == PA_STREAM_READY) return true;
                    if (!PA_STREAM_IS_GOOD(state)) return false;
                    return std::nullopt;
                });
            }
        }
    } else {
        ready = false;
    }
    pa_threaded_mainloop_unlock(output->loop);
    if (ready == true) return {std::move(output), OpenFailure::none};
    return {nullptr, ready.has_value() ? OpenFailure::noServer : OpenFailure::noAnswer};
}

}  // namespace quarvel::platform
