// sink-monitor: what a sound server's sink played, for the sound tests.
//   sink-monitor record SOURCE OUT.s16     records SOURCE (a null sink's monitor) as 16-bit stereo
//                                          at 44.1 kHz until SIGTERM or SIGINT; writes in OUT.s16.time
//                                          when each block had played (frame, CLOCK_MONOTONIC ms), and
//                                          in OUT.s16.faults what it lost itself and when a processor
//                                          stood still; it runs real-time where allowed, as the
//                                          demo's output does, so that it loses nothing the demo gave
//   sink-monitor drain FIFO OUT.s16        plays a FIFO as a sound card would: drains it at 44.1 kHz by
//                                          the clock, silence where it holds too little, and records
//                                          what it played as record does; the pipe holds 93 ms, so a
//                                          sink writing into it (PulseAudio's pipe sink) has that
//                                          delay, and reports it; notes in OUT.s16.faults where it
//                                          woke late itself
//   sink-monitor now                       prints CLOCK_MONOTONIC in ms, the clock the demo and the
//                                          recorder note times on
//   sink-monitor silent-server SOCKET      a sound server that hangs: takes every connection on the
//                                          Unix socket SOCKET and never answers, until SIGTERM
//   sink-monitor compare FILE.s16 OUT.s16 ORIGIN_MS [FROM_MS:TO_MS...]
//                                          sets the recording against the file's decoded frames and
//                                          the demo's clock origin; prints one line of figures and
//                                          exits with 1 when no frame of the file was found. What
//                                          happens within the stretches given (CLOCK_MONOTONIC ms),
//                                          or near a fault the recorder noted, is not held against
//                                          the demo
#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <pthread.h>
#include <pulse/pulseaudio.h>
#include <sched.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
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

// The recorder's threads run in the round-robin real-time class at its lowest priority, beside
// the demo's output, where the system allows it.
void makeThisThreadRealtime() {
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_RR);
    pthread_setschedparam(pthread_self(), SCHED_RR, &param);
}

constexpr double stallMs = 8;  // more than a wake-up of a real-time thread ever takes

// Real-time threads, one on each processor, that wake every millisecond: where one wakes far
// later, its processor stood still (a virtual machine's processor taken away), and whatever ran
// or was woken there with it, the sound server's threads or the demo's. One thread free to move
// would miss most of these, since the scheduler moves it to the processor that still runs.
class StallWatch {
public:
    explicit StallWatch(std::FILE* faults) {
        cpu_set_t allowed;
        CPU_ZERO(&allowed);
        sched_getaffinity(0, sizeof allowed, &allowed);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
            if (CPU_ISSET(cpu, &allowed)) threads_.emplace_back([this, faults, cpu] { watch(faults, cpu); });
    }
    ~StallWatch() {
        stop_ = true;
        for (std::thread& thread : threads_) thread.join();
    }
    StallWatch(const StallWatch&) = delete;
    StallWatch& operator=(const StallWatch&) = delete;

private:
    void watch(std::FILE* faults, int cpu) {
        cpu_set_t only;
        CPU_ZERO(&only);
        CPU_SET(cpu, &only);
        pthread_setaffinity_np(pthread_self(), sizeof only, &only);
        makeThisThreadRealtime();
        double before = monotonicMs();
        while (!stop_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const double now = monotonicMs();
            if (now - before > stallMs) std::fprintf(faults, "stall %.3f %.3f\n", before, now - before);
            before = now;
        }
    }

    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

struct Recording {
    std::FILE* out = nullptr;
    std::FILE* arrivals = nullptr;  // the frame each block began with, and when all of it had played
    std::FILE* faults = nullptr;
    long long frames = 0;
    bool failed = false;
    // PulseAudio's null sink renders a block ahead of its clock: a block reaches the monitor as
    // its first frame plays, and its last plays a block's length later. PipeWire's hands its
    // monitor what it has played.
    bool rendersAhead = false;
};

void onRead(pa_stream* stream, std::size_t, void* userdata) {
    auto& recording = *static_cast<Recording*>(userdata);
    const double arrivedMs = monotonicMs();
    const long long firstFrame = recording.frames;
    const void* data = nullptr;
    std::size_t bytes = 0;
    while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
        if (data == nullptr) {
            // a hole: the server lost what the sink played there before the recorder had it
            std::fprintf(recording.faults, "lost %.3f\n", monotonicMs());
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
    const double aheadMs = recording.rendersAhead ? (recording.frames - firstFrame) * 1e3 / rate : 0;
    std::fprintf(recording.arrivals, "%lld %.3f\n", firstFrame, arrivedMs + aheadMs);
}

int record(const char* source, const std::string& outPath) {
    Recording recording;
    recording.out = std::fopen(outPath.c_str(), "wb");
    recording.arrivals = std::fopen((outPath + ".time").c_str(), "w");
    recording.faults = std::fopen((outPath + ".faults").c_str(), "w");
    if (recording.out == nullptr || recording.arrivals == nullptr || recording.faults == nullptr) return 1;
    makeThisThreadRealtime();
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
            std::fprintf(stderr, "sink-monitor: could not connect: %s\n",
                         pa_strerror(pa_context_errno(context)));
            return 1;
        }
    }
    std::optional<bool> pipeWire;
    pa_operation* ask = pa_context_get_server_info(
        context,
        [](pa_context*, const pa_server_info* server, void* userdata) {
            *static_cast<std::optional<bool>*>(userdata) =
                server != nullptr && std::strstr(server->server_name, "PipeWire") != nullptr;
        },
        &pipeWire);
    while (ask != nullptr && !pipeWire && pa_mainloop_iterate(loop, 1, nullptr) >= 0) {
    }
    if (ask != nullptr) pa_operation_unref(ask);
    recording.rendersAhead = pipeWire == false;

    const pa_sample_spec format{PA_SAMPLE_S16LE, rate, channels};
    pa_stream* stream = pa_stream_new(context, "monitor", &format, nullptr);
    pa_stream_set_read_callback(stream, onRead, &recording);
    // the server's buffer for the recording ran full before the recorder took it
    pa_stream_set_overflow_callback(
        stream,
        [](pa_stream*, void* userdata) {
            std::fprintf(static_cast<Recording*>(userdata)->faults, "lost %.3f\n", monotonicMs());
        },
        &recording);
    // fragments of a desktop's usual size, 20 ms: each block's first frame still
    // arrives as the sink plays it, and PipeWire, which runs its whole graph at the smallest size
    // asked, keeps time on a busy machine (at 2 ms it misses turns). Larger fragments, at PipeWire's
    // cycle of 1024 frames, tell when a frame was played less closely: by up to 8 ms here
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(20'000, &format));
    if (pa_stream_connect_record(stream, source, &attr, PA_STREAM_ADJUST_LATENCY) < 0) {
        std::fprintf(stderr, "sink-monitor: cannot record %s: %s\n", source,
                     pa_strerror(pa_context_errno(context)));
        return 1;
    }
    std::optional<StallWatch> stallWatch(std::in_place, recording.faults);
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
    stallWatch.reset();
    std::fclose(recording.out);
    std::fclose(recording.arrivals);
    std::fclose(recording.faults);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    pa_context_disconnect(context);
    pa_context_unref(context);
    pa_mainloop_free(loop);
    return recording.failed ? 1 : 0;
}

// --- drain -------------------------------------------------------------------------------------

int drain(const char* fifo, const std::string& outPath) {
    Recording recording;
    recording.out = std::fopen(outPath.c_str(), "wb");
    recording.arrivals = std::fopen((outPath + ".time").c_str(), "w");
    recording.faults = std::fopen((outPath + ".faults").c_str(), "w");
    const int fd = open(fifo, O_RDONLY | O_NONBLOCK);
    constexpr int pipeBytes = 16384;  // 4096 frames: 93 ms
    if (recording.out == nullptr || recording.arrivals == nullptr || recording.faults == nullptr || fd < 0 ||
        fcntl(fd, F_SETPIPE_SZ, pipeBytes) != pipeBytes) {
        std::perror("sink-monitor: drain");
        return 1;
    }
    makeThisThreadRealtime();
    std::signal(SIGTERM, [](int) { stopAsked = 1; });
    std::signal(SIGINT, [](int) { stopAsked = 1; });
    std::optional<StallWatch> stallWatch(std::in_place, recording.faults);
    std::printf("recording\n");
    std::fflush(stdout);

    // every 2 ms, the frames due by now: each one played, and so heard, at its own moment
    constexpr double periodMs = 2;
    const double startMs = monotonicMs();
    double wokeMs = startMs;
    std::vector<char> block;
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    while (stopAsked == 0) {
        next.tv_nsec += static_cast<long>(periodMs * 1e6);
        if (next.tv_nsec >= 1'000'000'000) next = {next.tv_sec + 1, next.tv_nsec - 1'000'000'000};
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        // A card never stands still, but this one can, and the pipe then stops emptying while the
        // frames in it are still taken as played on time, once it wakes: the sink's reports of
        // its delay meanwhile say too much, by up to the time it stood
        const double nowMs = monotonicMs();
        if (nowMs - wokeMs > periodMs + stallMs)
            std::fprintf(recording.faults, "late %.3f %.3f\n", wokeMs, nowMs - wokeMs);
        wokeMs = nowMs;
        const long long due = std::llround((nowMs - startMs) * rate / 1e3);
        if (due <= recording.frames) continue;
        block.assign(static_cast<std::size_t>(due - recording.frames) * 2 * channels, 0);
        std::size_t got = 0;
        // the writer writes whole frames at once, so the rest of a frame begun is there
        for (ssize_t n = 0; got < block.size() && (n = read(fd, block.data() + got, block.size() - got)) > 0;)
            got += static_cast<std::size_t>(n);
        while (got % (2 * channels) != 0 && read(fd, block.data() + got, 1) == 1) ++got;
        // as a monitor's block arrives: once the last of it has played
        std::fprintf(recording.arrivals, "%lld %.3f\n", recording.frames,
                     startMs + static_cast<double>(due) * 1e3 / rate);
        std::fwrite(block.data(), 1, block.size(), recording.out);
        recording.frames = due;
    }
    stallWatch.reset();
    close(fd);
    std::fclose(recording.out);
    std::fclose(recording.arrivals);
    std::fclose(recording.faults);
    return 0;
}

// --- silent-server ------------------------------------------------------------------------------

int silentServer(const char* path) {
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path);
    unlink(path);
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 16) != 0) {
        std::perror("sink-monitor: silent-server");
        return 1;
    }
    std::vector<int> taken;  // held open, unanswered
    for (;;) {
        const int connection = accept(listener, nullptr, nullptr);
        if (connection >= 0) taken.push_back(connection);
    }
}

// --- compare -----------------------------------------------------------------------------------

std::vector<int16_t> readSamples(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                          static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
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
    return std::abs(file.s[2 * f] - rec.s[2 * r]) <= tolerance &&
           std::abs(file.s[2 * f + 1] - rec.s[2 * r + 1]) <= tolerance;
}

bool agreeRun(const Frames& file, long f, const Frames& rec, long r) {
    const long n = std::min({matchRun, file.count() - f, rec.count() - r});
    if (n < 16) return false;
    for (long i = 0; i < n; ++i)
        if (!agree(file, f + i, rec, r + i)) return false;
    return true;
}

// When each recorded frame was played. A sink hands its monitor what it plays in blocks
// (PulseAudio 5 ms at a time, PipeWire a whole 20-ms fragment); the recorder notes when all of a
// block had played, up to the frame the next block begins with, and a block the recorder took late
// says so late: the earliest estimate is the best. Only blocks near the frame count: PulseAudio
// 16's null sink hands its monitor about 0.8 ms a second more than the time that passed while the
// demo plays.
struct Arrivals {
    std::vector<std::pair<long long, double>> blocks;  // first frame, CLOCK_MONOTONIC ms

    explicit Arrivals(const std::string& path) {
        std::ifstream in(path);
        long long frame = 0;
        double ms = 0;
        while (in >> frame >> ms) blocks.emplace_back(frame, ms);
    }

    double playedAt(long frame) const {
        constexpr long near = rate / 5;
        auto i = std::lower_bound(blocks.begin(), blocks.end(),
                                  std::pair<long long, double>(frame - near, -1e300));
        if (i != blocks.begin()) --i;
        double best = 1e300;
        for (; i + 1 < blocks.end() && i->first <= frame + near; ++i)
            best = std::min(best, i->second - static_cast<double>((i + 1)->first - frame) * 1e3 / rate);
        return best;
    }

    // Where the server handed the recorder nothing for a while, though the recorder was awake: its
    // graph or its protocol stood still, and what it played then (silence where the demo's stream
    // missed its turns meanwhile, or a burst to catch up) is the server's doing. A stream that
    // runs dry leaves no such gap: the sink goes on handing its monitor silence on time.
    std::vector<std::pair<double, double>> serverStandstills() const {
        constexpr double longestGapMs = 50;  // PipeWire hands a block every 12 ms, PulseAudio more often
        std::vector<std::pair<double, double>> standstills;
        for (std::size_t i = 1; i < blocks.size(); ++i)
            if (blocks[i].second - blocks[i - 1].second > longestGapMs)
                standstills.emplace_back(blocks[i - 1].second, blocks[i].second);
        return standstills;
    }

    // Where the sink itself skipped time: a server woken a cycle late plays on without it, and
    // the blocks' earliest arrivals, against the frames they bring, step later by the time lost.
    // Around such a step the estimates above mix both sides. As CLOCK_MONOTONIC ms.
    std::vector<double> sinkSkips() const {
        constexpr std::size_t span = 20;  // blocks on each side, some 0.2 to 0.4 s
        constexpr double step = 5;        // ms
        const auto lead = [&](std::size_t i) { return blocks[i].second - blocks[i].first * 1e3 / rate; };
        std::vector<double> skips;
        for (std::size_t i = span; i + span < blocks.size(); ++i) {
            double before = 1e300, after = 1e300;
            for (std::size_t j = i - span; j < i; ++j) before = std::min(before, lead(j));
            for (std::size_t j = i; j < i + span; ++j) after = std::min(after, lead(j));
            if (after - before > step && (skips.empty() || blocks[i].second - skips.back() > 500))
                skips.push_back(blocks[i].second);
        }
        return skips;
    }
};

// Stretches of CLOCK_MONOTONIC ms where what happened to the sound is not the demo's doing.
struct Windows {
    std::vector<std::pair<double, double>> spans;
    bool contain(double ms) const {
        return std::any_of(spans.begin(), spans.end(),
                           [&](const auto& w) { return ms >= w.first && ms <= w.second; });
    }
};

// The recorder's own notes: "stall START_MS LENGTH_MS" where a processor stood still (its
// real-time watch woke that late), "lost MS" where the server dropped what the recorder had not
// taken yet, "late START_MS LENGTH_MS" where the drain stood still. What happens near any of them
// is not held against the demo.
Windows machineFaults(const std::string& path) {
    Windows faults;
    std::ifstream in(path);
    std::string kind;
    double at = 0;
    while (in >> kind >> at) {
        double length = 0;
        if (kind == "lost") {
            // what the recorder lost was played some time before the hole reached it
            faults.spans.emplace_back(at - 500, at + 500);
            continue;
        }
        in >> length;
        // after the drain stood still: a report of the sink's delay taken meanwhile was off by up
        // to that long, and the demo places what it writes by it until PulseAudio's next report,
        // 1.5 s later at most; what it wrote by then plays out of the server's buffer and the pipe
        // within 0.4 s
        const double after = kind == "late" ? 2000 : 500;
        faults.spans.emplace_back(at - 100, at + length + after);
    }
    return faults;
}

struct Figures {
    long dropouts = 0, excusedDropouts = 0, moves = 0, damaged = 0;
    double droppedMs = 0;
    double largestOffsetMs = 0;  // after the file's first second, outside the windows
};

int compare(const std::string& filePath, const std::string& recordingPath, double originMs, Windows excused) {
    const std::vector<int16_t> fileSamples = readSamples(filePath);
    const std::vector<int16_t> recSamples = readSamples(recordingPath);
    const Frames file{fileSamples};
    const Frames rec{recSamples};
    const Arrivals arrivals(recordingPath + ".time");
    const Windows faults = machineFaults(recordingPath + ".faults");
    excused.spans.insert(excused.spans.end(), faults.spans.begin(), faults.spans.end());
    long serverFaults = 0;
    for (const double at : arrivals.sinkSkips()) {
        excused.spans.emplace_back(at - 500, at + 500);
        ++serverFaults;
    }
    for (const auto& [from, to] : arrivals.serverStandstills()) {
        excused.spans.emplace_back(from - 100, to + 500);
        ++serverFaults;
    }

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

    // walk the file along the recording; where they part, find where the recording takes the
    // file up again, nearest first: after silence it is a dropout, without it the demo moved the
    // file to keep it in place; and see every tenth of a second how far the file is from it
    Figures figures;
    long offset = first - missing;  // recording frame of file frame 0
    long f = missing;
    const auto offsetMs = [&](long g) { return arrivals.playedAt(offset + g) - originMs - g * 1e3 / rate; };
    for (; f < file.count() && offset + f <= last; ++f) {
        if (agree(file, f, rec, offset + f)) {
            if (f % (rate / 10) == 0 && f >= rate && !excused.contain(arrivals.playedAt(offset + f)))
                figures.largestOffsetMs = std::max(figures.largestOffsetMs, std::abs(offsetMs(f)));
            continue;
        }
        const long parted = offset + f;
        if (agreeRun(file, f + 1, rec, parted + 1)) {
            ++figures.damaged;
            continue;
        }
        long resumed = parted;
        while (resumed <= last && rec.silent(resumed)) ++resumed;
        // a frame or two near zero is the music's own, not a dropout
        if (resumed - parted < 32) resumed = parted;
        // a server that resumes may play a few odd frames first (a partial buffer, a ramp); one
        // that stood still may play anything for as long as it stood, as a null sink catches up on
        // the cycles it missed all at once, with the stream asked for a second's sound in a moment
        const bool serversDoing = excused.contain(arrivals.playedAt(parted));
        const long skipLength = serversDoing ? 2 * rate : rate / 5, skipStep = serversDoing ? 128 : 16;
        long found = -1;
        for (const long skipEnd = std::min(last, resumed + skipLength); found < 0 && resumed <= skipEnd;
             resumed += skipStep) {
            const long inPlace = resumed - offset;
            for (long d = 0; d < 5L * rate && found < 0; ++d) {
                for (const long g : {inPlace + d, inPlace - d}) {
                    if (g >= 0 && g < file.count() && agreeRun(file, g, rec, resumed)) {
                        found = g;
                        break;
                    }
                }
            }
            if (found >= 0) break;
        }
        if (found < 0) break;  // the rest of the recording is not the file: the output ended
        const double atMs = arrivals.playedAt(parted);
        if (resumed > parted) {
            if (excused.contain(atMs)) {
                ++figures.excusedDropouts;
            } else {
                ++figures.dropouts;
                figures.droppedMs += (resumed - parted) * 1e3 / rate;
            }
        } else {
            ++figures.moves;
        }
        offset = resumed - found;
        f = found - 1;
    }
    const double firstHeardMs = arrivals.playedAt(first) - originMs;
    std::printf(
        "compared %.1f s: %ld dropouts (%.1f ms), %ld moves, %ld damaged frames, %ld first frames missing; ",
        static_cast<double>(f - missing) / rate, figures.dropouts, figures.droppedMs, figures.moves,
        figures.damaged, missing);
    std::printf(
        "the file's first frame was heard %+.1f ms from the clock's origin, and from its first second on "
        "the file was at most %.1f ms from its place; its end %s; ",
        firstHeardMs, figures.largestOffsetMs, f >= file.count() ? "was heard" : "was not reached");
    std::printf(
        "excused, in a stall of the machine, a fault or one of the %ld times the server skipped or stood "
        "still: %ld "
        "dropouts\n",
        serverFaults, figures.excusedDropouts);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "record" && argc == 4) return record(argv[2], argv[3]);
    if (mode == "drain" && argc == 4) return drain(argv[2], argv[3]);
    if (mode == "now" && argc == 2) return std::printf("%.3f\n", monotonicMs()) < 0;
    if (mode == "silent-server" && argc == 3) return silentServer(argv[2]);
    if (mode == "compare" && argc >= 5) {
        Windows excused;
        for (int i = 5; i < argc; ++i) {
            double from = 0, to = 0;
            if (std::sscanf(argv[i], "%lf:%lf", &from, &to) != 2) return 2;
            excused.spans.emplace_back(from, to);
        }
        return compare(argv[2], argv[3], std::atof(argv[4]), excused);
    }
    std::fprintf(
        stderr,
        "usage: sink-monitor record SOURCE OUT.s16 | drain FIFO OUT.s16 | compare FILE.s16 OUT.s16 ORIGIN_MS "
        "[FROM_MS:TO_MS...]\n");
    return 2;
}
