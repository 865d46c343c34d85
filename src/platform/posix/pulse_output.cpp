#include "platform/posix/pulse_output.h"

#include "platform/posix/realtime_thread.h"

#include <pulse/pulseaudio.h>

#include <cstring>

namespace quarvel::platform {

namespace {

// What the server holds of the stream ahead of the sink, the sink's own latency included: deep
// enough for a busy machine to keep the output thread off the processor for tens of milliseconds
// without the sink running dry. It costs no synchronisation, since the output knows when each
// frame is heard.
constexpr pa_usec_t bufferUsec = 100'000;

}  // namespace

struct PulseOutput {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    pa_sample_spec format{};
    ServerFill fill = nullptr;
    void* userdata = nullptr;
    bool realtimeAsked = false;
};

namespace {

void signalWaiter(pa_threaded_mainloop* loop) {
    pa_threaded_mainloop_signal(loop, 0);
}

void onContextState(pa_context*, void* userdata) {
    signalWaiter(static_cast<PulseOutput*>(userdata)->loop);
}

void onStreamState(pa_stream*, void* userdata) {
    signalWaiter(static_cast<PulseOutput*>(userdata)->loop);
}

void onOperationDone(pa_stream*, int, void* userdata) {
    signalWaiter(static_cast<PulseOutput*>(userdata)->loop);
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
        output.fill(output.userdata, static_cast<int16_t*>(data), frames);
        if (pa_stream_write(stream, data, frames * frameBytes, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
        bytes -= frames * frameBytes;
    }
}

// Waits, locked, until the stream is ready or will never be.
bool waitUntilReady(PulseOutput& output) {
    for (;;) {
        const pa_context_state_t contextState = pa_context_get_state(output.context);
        if (!PA_CONTEXT_IS_GOOD(contextState)) return false;
        if (output.stream != nullptr) {
            const pa_stream_state_t streamState = pa_stream_get_state(output.stream);
            if (streamState == PA_STREAM_READY) return true;
            if (!PA_STREAM_IS_GOOD(streamState)) return false;
        } else if (contextState == PA_CONTEXT_READY) {
            output.stream = pa_stream_new(output.context, "Soundtrack", &output.format, nullptr);
            if (output.stream == nullptr) return false;
            pa_stream_set_state_callback(output.stream, onStreamState, &output);
            pa_stream_set_write_callback(output.stream, onWriteRequest, &output);
            pa_buffer_attr attributes{};
            attributes.maxlength = static_cast<uint32_t>(-1);
            attributes.tlength = static_cast<uint32_t>(pa_usec_to_bytes(bufferUsec, &output.format));
            attributes.prebuf = static_cast<uint32_t>(-1);
            attributes.minreq = static_cast<uint32_t>(-1);
            const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                                              PA_STREAM_AUTO_TIMING_UPDATE);
            if (pa_stream_connect_playback(output.stream, nullptr, &attributes, flags, nullptr, nullptr) < 0) return false;
        }
        pa_threaded_mainloop_wait(output.loop);
    }
}

}  // namespace

bool pulseServerIsPipeWire() {
    pa_mainloop* loop = pa_mainloop_new();
    if (loop == nullptr) return false;
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Quarvel");
    bool isPipeWire = false;
    bool answered = false;
    const auto onServerInfo = [](pa_context*, const pa_server_info* info, void* userdata) {
        // "PulseAudio (on PipeWire 0.3.65)"
        *static_cast<bool*>(userdata) = info != nullptr && std::strstr(info->server_name, "PipeWire") != nullptr;
    };
    if (context != nullptr && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        pa_operation* query = nullptr;
        while (!answered && PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) &&
               pa_mainloop_iterate(loop, 1, nullptr) >= 0) {
            if (query == nullptr && pa_context_get_state(context) == PA_CONTEXT_READY) {
                query = pa_context_get_server_info(context, onServerInfo, &isPipeWire);
                if (query == nullptr) break;
            }
            answered = query != nullptr && pa_operation_get_state(query) != PA_OPERATION_RUNNING;
        }
        if (query != nullptr) pa_operation_unref(query);
        pa_context_disconnect(context);
    }
    if (context != nullptr) pa_context_unref(context);
    pa_mainloop_free(loop);
    return isPipeWire;
}

PulseOutput* openPulseOutput(int rate, int channels, ServerFill fill, void* userdata) {
    auto* output = new PulseOutput;
    output->format = {PA_SAMPLE_S16NE, static_cast<uint32_t>(rate), static_cast<uint8_t>(channels)};
    output->fill = fill;
    output->userdata = userdata;
    output->loop = pa_threaded_mainloop_new();
    if (output->loop == nullptr || !pa_sample_spec_valid(&output->format)) {
        closePulseOutput(output);
        return nullptr;
    }
    pa_threaded_mainloop_set_name(output->loop, "quarvel-sound");
    output->context = pa_context_new(pa_threaded_mainloop_get_api(output->loop), "Quarvel");
    bool ready = false;
    if (output->context != nullptr) {
        pa_context_set_state_callback(output->context, onContextState, output);
        pa_threaded_mainloop_lock(output->loop);
        ready = pa_context_connect(output->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
                pa_threaded_mainloop_start(output->loop) >= 0 && waitUntilReady(*output);
        pa_threaded_mainloop_unlock(output->loop);
    }
    if (!ready) {
        closePulseOutput(output);
        return nullptr;
    }
    return output;
}

void closePulseOutput(PulseOutput* output) {
    if (output->loop != nullptr) pa_threaded_mainloop_stop(output->loop);
    if (output->stream != nullptr) {
        pa_stream_disconnect(output->stream);
        pa_stream_unref(output->stream);
    }
    if (output->context != nullptr) {
        pa_context_disconnect(output->context);
        pa_context_unref(output->context);
    }
    if (output->loop != nullptr) pa_threaded_mainloop_free(output->loop);
    delete output;
}

void lockPulseOutput(PulseOutput* output) {
    pa_threaded_mainloop_lock(output->loop);
}

void unlockPulseOutput(PulseOutput* output) {
    pa_threaded_mainloop_unlock(output->loop);
}

std::optional<std::chrono::steady_clock::time_point> pulseFrameHeardAt(PulseOutput* output, long long frame,
                                                                       ServerReport report) {
    pa_threaded_mainloop_lock(output->loop);
    // the stream's own interpolation may be a few ms off: it goes from the last report, which
    // comes every 100 ms or so
    pa_operation* update = report == ServerReport::fresh
                               ? pa_stream_update_timing_info(output->stream, onOperationDone, output)
                               : nullptr;
    if (update != nullptr) {
        while (pa_operation_get_state(update) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(output->loop);
        pa_operation_unref(update);
    }
    pa_usec_t playedUsec = 0;
    const bool known = pa_stream_get_state(output->stream) == PA_STREAM_READY &&
                       pa_stream_get_time(output->stream, &playedUsec) == 0;
    const auto now = std::chrono::steady_clock::now();
    pa_threaded_mainloop_unlock(output->loop);
    if (!known) return std::nullopt;
    const auto frameUsec = static_cast<long long>(static_cast<double>(frame) * 1e6 / output->format.rate);
    return now + std::chrono::microseconds(frameUsec - static_cast<long long>(playedUsec));
}

}  // namespace quarvel::platform
