#include "platform/posix/pipewire_output.h"

#include "platform/posix/realtime_thread.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include <algorithm>
#include <mutex>

namespace quarvel::platform {

namespace {

using Clock = std::chrono::steady_clock;

// How long the stream may take to be linked to a sink and started.
constexpr std::chrono::seconds startTimeout{2};

// The graph's cycle this stream asks for (23 ms); the graph runs at the shortest any stream asks.
// As each cycle starts, the server wakes this process's real-time data thread to fill it.
constexpr const char* latency = "1024/44100";

}  // namespace

struct PipeWireOutput {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_hook streamListener{};
    int rate = 0;
    int channels = 0;
    ServerFill fill = nullptr;
    void* userdata = nullptr;
    bool realtimeAsked = false;

    // fill runs on PipeWire's data thread, not the loop's, and this keeps it from its caller
    std::mutex fillLock;
    // the last report, under fillLock: the stream frame that began the buffer queued last, and
    // when the server said it would be heard; unset before the first
    long long reportFrame = 0;
    std::optional<Clock::time_point> reportHeardAt;
    long long framesQueued = 0;
};

namespace {

// PipeWire's clock is CLOCK_MONOTONIC, which steady_clock is on Linux.
Clock::time_point fromMonotonicNs(int64_t ns) {
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(ns)));
}

void onStateChanged(void* userdata, pw_stream_state, pw_stream_state state, const char*) {
    auto& output = *static_cast<PipeWireOutput*>(userdata);
    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) {
        const std::lock_guard lock(output.fillLock);
        output.reportHeardAt.reset();
    }
    pw_thread_loop_signal(output.loop, false);
}

// On the data thread, once a graph cycle.
void onProcess(void* userdata) {
    auto& output = *static_cast<PipeWireOutput*>(userdata);
    if (!output.realtimeAsked) {
        // where PipeWire's own module could not make the data thread real-time
        makeThisThreadRealtime();
        output.realtimeAsked = true;
    }
    pw_buffer* buffer = pw_stream_dequeue_buffer(output.stream);
    if (buffer == nullptr) return;
    spa_data& data = buffer->buffer->datas[0];
    if (data.data == nullptr) {
        pw_stream_queue_buffer(output.stream, buffer);
        return;
    }
    const auto frameBytes = static_cast<uint32_t>(output.channels * sizeof(int16_t));
    uint64_t frames = data.maxsize / frameBytes;
    if (buffer->requested != 0) frames = std::min<uint64_t>(frames, buffer->requested);

    // A frame queued now is heard after the buffers still queued, what the converter holds, and
    // the graph's delay to the sink, which PipeWire gives as of the start of this cycle.
    pw_time time{};
    const bool timed = pw_stream_get_time_n(output.stream, &time, sizeof time) == 0 && time.rate.denom != 0;
    {
        const std::lock_guard lock(output.fillLock);
        output.fill(output.userdata, static_cast<int16_t*>(data.data), frames);
        if (timed) {
            const double ahead = static_cast<double>(time.delay) * time.rate.num / time.rate.denom +
                                 static_cast<double>(time.buffered + time.queued) / output.rate;
            output.reportFrame = output.framesQueued;
            output.reportHeardAt = fromMonotonicNs(time.now) + std::chrono::duration_cast<Clock::duration>(
                                                                   std::chrono::duration<double>(ahead));
        }
        output.framesQueued += static_cast<long long>(frames);
    }
    data.chunk->offset = 0;
    data.chunk->stride = static_cast<int32_t>(frameBytes);
    data.chunk->size = static_cast<uint32_t>(frames * frameBytes);
    buffer->size = frames;  // what pw_time.queued counts, in frames
    pw_stream_queue_buffer(output.stream, buffer);
}

const pw_stream_events streamEvents = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = onStateChanged;
    events.process = onProcess;
    return events;
}();

// Waits, locked, until the stream plays or will not.
bool waitUntilStreaming(PipeWireOutput& output) {
    const auto deadline = Clock::now() + startTimeout;
    for (;;) {
        const pw_stream_state state = pw_stream_get_state(output.stream, nullptr);
        if (state == PW_STREAM_STATE_STREAMING) return true;
        if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        timespec until{};
        if (pw_thread_loop_get_time(output.loop, &until, left.count() * SPA_NSEC_PER_MSEC) < 0) return false;
        pw_thread_loop_timed_wait_full(output.loop, &until);
    }
}

bool connectStream(PipeWireOutput& output) {
    output.core = pw_context_connect(output.context, nullptr, 0);
    if (output.core == nullptr) return false;
    pw_properties* properties =
        pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE,
                          "Music", PW_KEY_NODE_LATENCY, latency, nullptr);
    output.stream = pw_stream_new(output.core, "Soundtrack", properties);
    if (output.stream == nullptr) return false;
    pw_stream_add_listener(output.stream, &output.streamListener, &streamEvents, &output);

    spa_audio_info_raw format{};
    format.format = SPA_AUDIO_FORMAT_S16;
    format.rate = static_cast<uint32_t>(output.rate);
    format.channels = static_cast<uint32_t>(output.channels);
    if (output.channels == 2) {
        format.position[0] = SPA_AUDIO_CHANNEL_FL;
        format.position[1] = SPA_AUDIO_CHANNEL_FR;
    }
    uint8_t podSpace[1024];
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, podSpace, sizeof podSpace);
    const spa_pod* params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &format)};
    const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                                    PW_STREAM_FLAG_RT_PROCESS);
    return pw_stream_connect(output.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) >= 0 &&
           waitUntilStreaming(output);
}

}  // namespace

PipeWireOutput* openPipeWireOutput(int rate, int channels, ServerFill fill, void* userdata) {
    pw_init(nullptr, nullptr);
    auto* output = new PipeWireOutput;
    output->rate = rate;
    output->channels = channels;
    output->fill = fill;
    output->userdata = userdata;
    output->loop = pw_thread_loop_new("quarvel-sound", nullptr);
    if (output->loop == nullptr) {
        closePipeWireOutput(output);
        return nullptr;
    }
    // the configuration whose module makes the data thread real-time
    output->context = pw_context_new(pw_thread_loop_get_loop(output->loop),
                                     pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
    bool playing = false;
    if (output->context != nullptr && pw_thread_loop_start(output->loop) == 0) {
        pw_thread_loop_lock(output->loop);
        playing = connectStream(*output);
        pw_thread_loop_unlock(output->loop);
    }
    if (!playing) {
        closePipeWireOutput(output);
        return nullptr;
    }
    return output;
}

void closePipeWireOutput(PipeWireOutput* output) {
    if (output->loop != nullptr) pw_thread_loop_stop(output->loop);
    if (output->stream != nullptr) pw_stream_destroy(output->stream);
    if (output->core != nullptr) pw_core_disconnect(output->core);
    if (output->context != nullptr) pw_context_destroy(output->context);
    if (output->loop != nullptr) pw_thread_loop_destroy(output->loop);
    delete output;
    pw_deinit();
}

void lockPipeWireOutput(PipeWireOutput* output) {
    output->fillLock.lock();
}

void unlockPipeWireOutput(PipeWireOutput* output) {
    output->fillLock.unlock();
}

// Each cycle brings a report, so the last is as good as a fresh one.
std::optional<Clock::time_point> pipeWireFrameHeardAt(PipeWireOutput* output, long long frame, ServerReport) {
    const std::lock_guard lock(output->fillLock);
    if (!output->reportHeardAt) return std::nullopt;
    const auto frameTime =
        std::chrono::duration<double>(static_cast<double>(frame - output->reportFrame) / output->rate);
    return *output->reportHeardAt + std::chrono::duration_cast<Clock::duration>(frameTime);
}

}  // namespace quarvel::platform
