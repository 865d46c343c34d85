// sink-monitor: what a sound server's sink played, for the sound tests.
//   sink-monitor record SOURCE OUT.s16     records SOURCE (a null sink's monitor) as 16-bit stereo
//                                          at 44.1 kHz until SIGTERM or SIGINT; writes in OUT.s16.time
//                                          when each block arrived (frame, CLOCK_MONOTONIC ms)
//   sink-monitor compare FILE.s16 OUT.s16 ORIGIN_MS
//                                          sets the recording against the file's decoded frames and
//                                          the demo's clock origin; prints one line of figures and
//                                          exits with 1 when no frame of the file was found
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int rate = 44100;
constexpr int channels = 2;

double monotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// --- record ------------------------------------------------------------------------------------

volatile std::sig_atomic_t stopAsked = 0;

struct Recording {
    std::FILE* out = nullptr;
    std::FILE* arrivals = nullptr;  // the frame each block began with, and when it arrived
    long long frames = 0;
    bool failed = false;
};

void onRead(pa_stream* stream, std::size_t, void* userdata) {
    auto& recording = *static_cast<Recording*>(userdata);
    std::fprintf(recording.arrivals, "%lld %.3f\n", recording.frames, monotonicMs());
    const void* data = nullptr;
    std::size_t bytes = 0;
    while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
        if (data == nullptr) {  // a hole: silence
            static const std::vector<char> zeros(1 << 16);
            for (std::size_t left = bytes; left > 0;) {
                const std::size_t n = std::min(left, zeros.size());
                std::fwrite(zeros.data(), 1, n, recording.out);
                left -= n;
            }
        } else {
            std::fwrite(data, 1, bytes, recording.out);
        }
        recording.frames += static_cast<long long>(bytes / (2 * channels));
        pa_stream_drop(stream);
    }
}

int record(const char* source, const std::string& outPath) {
    Recording recording;
    recording.out = std::fopen(outPath.c_str(), "wb");
    recording.arrivals = std::fopen((outPath + ".time").c_str(), "w");
    if (recording.out == nullptr || recording.arrivals == nullptr) return 1;
    std::signal(SIGTERM, [](int) { stopAsked = 1; });
    std::signal(SIGINT, [](int) { stopAsked = 1; });

    pa_mainloop* loop = pa_mainloop_new();
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "sink-monitor");
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        std::fprintf(stderr, "sink-monitor: no sound server: %s\n", pa_strerror(pa_context_errno(context)));
        return 1;
    }
    while (pa_context_get_state(context) != PA_CONTEXT_READY) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) || pa_mainloop_iterate(loop, 1, nullptr) < 0) {
            std::fprintf(stderr, "sink-monitor: could not connect: %s\n", pa_strerror(pa_context_errno(context)));
            return 1;
        }
    }
    const pa_sample_spec format{PA_SAMPLE_S16LE, rate, channels};
    pa_stream* stream = pa_stream_new(context, "monitor", &format, nullptr);
    pa_stream_set_read_callback(stream, onRead, &recording);
    // fragments of a desktop's usual size: each block's first frame still arrives as the sink
    // plays it, and PipeWire, which runs its whole graph at the smallest size asked, keeps time
    // on a busy machine (at 2 ms it misses turns)
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(20'000, &format));
    if (pa_stream_connect_record(stream, source, &attr, PA_STREAM_ADJUST_LATENCY) < 0) {
        std::fprintf(stderr, "sink-monitor: cannot record %s: %s\n", source, pa_strerror(pa_context_errno(context)));
        return 1;
    }
    bool readyTold = false;
    while (stopAsked == 0) {
        if (pa_mainloop_iterate(loop, 0, nullptr) < 0) break;
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
            std::fprintf(stderr, "sink-monitor: the recording stopped\n");
            recording.failed = true;
            break;
        }
        if (state == PA_STREAM_READY && !readyTold) {
            // the caller waits for this line before it starts anything it wants recorded
            std::printf("recording\n");
            std::fflush(stdout);
            readyTold = true;
        }
        pa_mainloop_prepare(loop, 20'000);  // wake at least every 20 ms to see a stop request
        pa_mainloop_poll(loop);
        pa_mainloop_dispatch(loop);
    }
    std::fclose(recording.out);
    std::fclose(recording.arrivals);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    pa_context_disconnect(context);
    pa_context_unref(context);
    pa_mainloop_free(loop);
    return recording.failed ? 1 : 0;
}

// --- compare -----------------------------------------------------------------------------------

std::vector<int16_t> readSamples(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) | static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
    return samples;
}

// Two decoders of the same MP3 differ by a few steps, and a server that mixes in floating point
// by a step; a frame from elsewhere in the song differs by hundreds or thousands.
constexpr int tolerance = 48;
constexpr long matchRun = 256;  // frames that must agree for a position to count as found

struct Frames {
    const std::vector<int16_t>& s;
    long count() const { return static_cast<long>(s.size() / channels); }
    // a server that mixes in floating point may dither what it converts back, silence included
    bool silent(long f) const { return std::abs(s[2 * f]) <= 8 && std::abs(s[2 * f + 1]) <= 8; }
};

bool agree(const Frames& file, long f, const Frames& rec, long r) {
    return std::abs(file.s[2 * f] - rec.s[2 * r]) <= tolerance && std::abs(file.s[2 * f + 1] - rec.s[2 * r + 1]) <= tolerance;
}

bool agreeRun(const Frames& file, long f, const Frames& rec, long r) {
    const long n = std::min({matchRun, file.count() - f, rec.count() - r});
    if (n < 16) return false;
    for (long i = 0; i < n; ++i)
        if (!agree(file, f + i, rec, r + i)) return false;
    return true;
}

// When recorded frame `frame` was played. A sink hands its monitor what it has played in blocks
// (PulseAudio a few ms at a time, PipeWire a whole 20-ms fragment), so by the time a block arrived
// all of it had been played, up to the frame the next block begins with; the earliest estimate is
// the best. Only blocks near the frame count: PulseAudio 16's null sink hands its monitor about
// 0.8 ms a second more than the time that passed while the demo plays.
double playedAt(const std::string& arrivalsPath, long frame) {
    constexpr long near = rate / 5;
    std::ifstream arrivals(arrivalsPath);
    long long blockFrame = 0;
    double arrivedMs = 0;
    long long lastFrame = -1;
    double lastArrivedMs = 0;
    double best = 1e300;
    while (arrivals >> blockFrame >> arrivedMs) {
        if (lastFrame >= 0 && std::abs(lastFrame - frame) <= near)
            best = std::min(best, lastArrivedMs - static_cast<double>(blockFrame - frame) * 1e3 / rate);
        lastFrame = blockFrame;
        lastArrivedMs = arrivedMs;
    }
    return best;
}

int compare(const std::string& filePath, const std::string& recordingPath, double originMs) {
    const std::vector<int16_t> fileSamples = readSamples(filePath);
    const std::vector<int16_t> recSamples = readSamples(recordingPath);
    const Frames file{fileSamples};
    const Frames rec{recSamples};

    // the first frame with sound, and the frame of the file it is
    long first = 0;
    while (first < rec.count() && rec.silent(first)) ++first;
    long missing = 0;
    while (missing < std::min(file.count(), 10L * rate) && !agreeRun(file, missing, rec, first)) ++missing;
    if (first == rec.count() || missing == std::min(file.count(), 10L * rate)) {
        std::printf("no frame of the file reached the sink\n");
        return 1;
    }
    long last = rec.count() - 1;
    while (last > first && rec.silent(last)) --last;

    // walk the file along the recording; where they part, find the file again further on: the
    // frames skipped over are a dropout, which moves the rest of the sound later, or one that
    // lost what it covered
    long offset = first - missing;  // recording frame of file frame 0
    long dropouts = 0;
    long droppedFrames = 0;
    long damaged = 0;
    long f = missing;
    for (; f < file.count() && offset + f <= last; ++f) {
        if (agree(file, f, rec, offset + f)) continue;
        long found = -1;
        for (long shift = 0; shift < 5L * rate && offset + f + shift <= last; ++shift) {
            if (agreeRun(file, f, rec, offset + f + shift)) {
                found = shift;
                break;
            }
        }
        if (found < 0) {
            // or frames of the file replaced by silence, the rest in place: a server that missed
            // its turn plays nothing for it
            long resumed = -1;
            for (long gap = 1; gap < 5L * rate && f + gap < file.count() && offset + f + gap <= last; ++gap) {
                if (agreeRun(file, f + gap, rec, offset + f + gap)) {
                    resumed = gap;
                    break;
                }
            }
            if (resumed >= 0) {
                ++dropouts;
                droppedFrames += resumed;
                f += resumed - 1;
                continue;
            }
            // or both: a stream that ran dry plays silence, and the server then drops the start
            // of what comes next to catch up. The file goes on, further on, after the silence.
            long r = offset + f;
            while (r <= last && rec.silent(r)) ++r;
            long caughtUp = -1;
            for (long g = f; r > offset + f && g < std::min(file.count(), f + 5L * rate); ++g) {
                if (agreeRun(file, g, rec, r)) {
                    caughtUp = g;
                    break;
                }
            }
            if (caughtUp < 0) break;  // the rest of the recording is not the file: the output ended
            ++dropouts;
            droppedFrames += r - (offset + f);
            offset = r - caughtUp;
            f = caughtUp - 1;
            continue;
        }
        if (found == 0) {
            ++damaged;
        } else {
            ++dropouts;
            droppedFrames += found;
            offset += found;
        }
    }
    const double firstHeardMs = playedAt(recordingPath + ".time", first - missing) - originMs;
    std::printf(
        "compared %.1f s: %ld dropouts (%.1f ms), %ld damaged frames, %ld first frames missing; the file's first "
        "frame was heard %+.1f ms from the clock's origin; its end %s\n",
        static_cast<double>(f - missing) / rate, dropouts, droppedFrames * 1e3 / rate, damaged, missing, firstHeardMs,
        f >= file.count() ? "was heard" : "was not reached");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "record" && argc == 4) return record(argv[2], argv[3]);
    if (mode == "compare" && argc == 5) return compare(argv[2], argv[3], std::atof(argv[4]));
    std::fprintf(stderr, "usage: sink-monitor record SOURCE OUT.s16 | compare FILE.s16 OUT.s16 ORIGIN_MS\n");
    return 2;
}
