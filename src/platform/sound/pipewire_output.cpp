// A playback stream of PipeWire's own: each graph cycle wakes this process's real-time data
// thread to fill one buffer, and the stream's time, taken in the same call, says when the
// buffer's first frame is heard, which PulseAudio's protocol leaves out.
#include "platform/sound/realtime_thread.h"
#include "platform/sound/server_streams.h"

#include <algorithm>
#include <atomic>
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <thread>

namespace quarvel::platform {

namespace {

// The graph's cycle this stream asks for (23 ms); the graph runs at the shortest any stream asks.
// As each cycle starts, the server wakes this process's real-time data thread to fill it.
constexpr const char* latency = "1024/44100";

class PipeWireOutput final : public SoundOutput {
public:
    ~PipeWireOutput() override {
        if (loop != nullptr) pw_thread_loop_stop(loop);
        if (stream != nullptr) pw_stream_destroy(stream);
        if (core != nullptr) pw_core_disconnect(core);
        if (context != nullptr) pw_context_destroy(context);
        if (loop != nullptr) pw_thread_loop_destroy(loop);
        pw_deinit();
    }

    bool lost() override { return gone; }
    bool reconnects() const override { return true; }

    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_hook coreListener{};
    spa_hook streamListener{};
    int rate = 0;
    int channels = 0;
    SoundSource* source = nullptr;
    bool realtimeAsked = false;
    std::atomic<bool> gone{false};  // the server went, or dropped the stream
};

// PipeWire's clock is CLOCK_MONOTONIC, which steady_clock is on Linux.
SoundClock::time_point fromMonotonicNs(int64_t ns) {
    return SoundClock::time_point(
        std::chrono::duration_cast<SoundClock::duration>(std::chrono::nanoseconds(ns)));
}

void onStateChanged(void* userdata, pw_stream_state, pw_stream_state state, const char*) {
    auto& output = *static_cast<PipeWireOutput*>(userdata);
    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) output.gone = true;
}

// The connection to the server broke: it died, or is restarting.
void onCoreError(void* userdata, uint32_t id, int, int, const char*) {
    if (id == PW_ID_CORE) static_cast<PipeWireOutput*>(userdata)->gone = true;
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
    std::optional<SoundClock::time_point> heardAt;
    if (pw_stream_get_time_n(output.stream, &time, sizeof time) == 0 && time.rate.denom != 0) {
        const double ahead = static_cast<double>(time.delay) * time.rate.num / time.rate.denom +
                             static_cast<double>(time.buffered + time.queued) / output.rate;
        heardAt = fromMonotonicNs(time.now) +
                  std::chrono::duration_cast<SoundClock::duration>(std::chrono::duration<double>(ahead));
    }
    output.source->fill(static_cast<int16_t*>(data.data), frames, heardAt);
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

const pw_core_events coreEvents = [] {
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    events.error = onCoreError;
    return events;
}();

// Waits, locked, until the stream plays (true), will not (false), or the limits run out.
std::optional<bool> waitUntilStreaming(PipeWireOutput& output, const OpenLimits& limits) {
    for (;;) {
        const pw_stream_state state = pw_stream_get_state(output.stream, nullptr);
        if (state == PW_STREAM_STATE_STREAMING) return true;
        if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED || output.gone)
            return false;
        if (limits.expired()) return std::nullopt;
        pw_thread_loop_unlock(output.loop);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        pw_thread_loop_lock(output.loop);
    }
}

std::optional<bool> connectStream(PipeWireOutput& output, const OpenLimits& limits) {
    output.core = pw_context_connect(output.context, nullptr, 0);
    if (output.core == nullptr) return false;
    pw_core_add_listener(output.core, &output.coreListener, &coreEvents, &output);
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
    if (pw_stream_connect(output.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) < 0) return false;
    return waitUntilStreaming(output, limits);
}

}  // namespace

OpenedOutput openPipeWireOutput(int rate, int channels, SoundSource& source, const OpenLimits& limits) {
    pw_init(nullptr, nullptr);
    auto output = std::make_unique<PipeWireOutput>();
    output->rate = rate;
    output->channels = channels;
    output->source = &source;
    output->loop = pw_thread_loop_new("quarvel-sound", nullptr);
    if (output->loop == nullptr) return {};
    // the configuration whose module makes the data thread real-time
    output->context = pw_context_new(pw_thread_loop_get_loop(output->loop),
                                     pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
    if (output->context == nullptr || pw_thread_loop_start(output->loop) != 0) return {};
    pw_thread_loop_lock(output->loop);
    const std::optional<bool> playing = connectStream(*output, limits);
    pw_thread_loop_unlock(output->loop);
    if (playing == true) return {std::move(output), OpenFailure::none};
    return {nullptr, playing.has_value() ? OpenFailure::noServer : OpenFailure::noAnswer};
}

}  // namespace quarvel::platform
