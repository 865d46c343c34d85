// Prints how fast the capture runs against pure rendering of the same frames: the show's own
// shaders, the same frame path, with and without the pixel-buffer readback, and with the PNG writer
// and every video preset behind it. Each figure is the median of interleaved runs from a fresh state.
// With --stretches, the same over a second of each part of the show (after half a second
// unwritten, for the trails to build up), at 1280x720, 30 fps or as given, as presets are tuned.
#include "bench_gl.h"
#include "capture/capture_loop.h"
#include "capture/png_sink.h"
#include "capture/video_measures.h"
#include "capture/video_sink.h"
#include "render/frame_pipeline.h"
#include "render/gl_api.h"
#include "render/render_targets.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace quarvel;

// The readback alone: the video writer hands the mapped frame to the pipe as it is.
class DiscardingSink : public FrameSink {
public:
    Status write(int32_t, const unsigned char*) override { return success(); }
    Status finish() override { return success(); }
    void abandon() override {}
};

enum class Mode { render, readback, png, video };

struct Measured {
    Mode mode;
    const char* name;
    const char* container = "";  // video: ffmpeg's format name, and the file's extension below
    const char* extension = "";
    VideoQuality quality = VideoQuality::share;
    VideoCodec codec = VideoCodec::automatic;
};

const Measured measured[] = {
    {Mode::render, "render only"},
    {Mode::readback, "capture, readback"},
    {Mode::png, "capture to PNG"},
    // master first: the others are measured against the frames it decodes to
    {Mode::video, "mkv master", "matroska", "mkv", VideoQuality::master},
    {Mode::video, "mp4 share", "mp4", "mp4", VideoQuality::share},
    {Mode::video, "mp4 high", "mp4", "mp4", VideoQuality::high},
    {Mode::video, "mp4 preview", "mp4", "mp4", VideoQuality::preview},
    {Mode::video, "webm share", "webm", "webm", VideoQuality::share},
    {Mode::video, "mp4 share av1", "mp4", "mp4", VideoQuality::share, VideoCodec::av1},
    {Mode::video, "webm high", "webm", "webm", VideoQuality::high},
    {Mode::video, "webm preview", "webm", "webm", VideoQuality::preview},
};

double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + now.tv_nsec * 1e-9;
}

// ffmpeg's CPU time, counted once VideoSink::finish has waited for it
double childrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

struct Timing {
    double fps = 0;
    double cpuMsPerFrame = 0;  // this process, the rasteriser's threads included
    double encoderMsPerFrame = 0;
    double mbits = 0;                   // a video's average bitrate
    double lowPassed = -1, grain = -1;  // a lossy video's measures against master's frames
};

// The file's frames as 8-bit RGB, through ffmpeg: a YUV one as the lossy presets tag it.
std::vector<uint8_t> decodedFrames(const std::string& path, bool yuv) {
    const std::string command = "ffmpeg -v error -i '" + path + "' -vf " +
                                (yuv ? "scale=in_color_matrix=bt709:in_range=tv:" : "scale=") +
                                "flags=bicubic+accurate_rnd+full_chroma_int,format=rgb24 -f rawvideo -";
    std::vector<uint8_t> bytes;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        unsigned char block[1 << 16];
        for (std::size_t n; (n = std::fread(block, 1, sizeof block, pipe)) > 0;)
            bytes.insert(bytes.end(), block, block + n);
        pclose(pipe);
    }
    return bytes;
}

std::vector<uint8_t> masterFrames;  // of the size being measured

// What one run captures: `frames` frames at `fps` from clock `startMs`, after `unwritten` more.
struct Stretch {
    int32_t width, height, fps, startMs, frames, unwritten;
};

Timing runOnce(const OffscreenGl& gl, const Measured& measure, const Stretch& stretch,
               const std::string& folder, const std::string& ffmpeg) {
    const int32_t width = stretch.width, height = stretch.height, frames = stretch.frames;
    const Mode mode = measure.mode;
    Pipeline pipeline;
    const ProgramsResult programs = createPipeline(gl, builtInShaderSources(), width, height, pipeline);
    if (!programs.status.ok) {
        std::fprintf(stderr, "%s\n", programs.status.message.c_str());
        std::exit(1);
    }

    FramePlan plan;
    const int32_t all = stretch.unwritten + frames;
    for (int n = 0; n < all; ++n)
        plan.clocks.push_back(stretch.startMs + (n - stretch.unwritten) * 1000 / stretch.fps);
    plan.firstWritten = mode == Mode::render ? all : stretch.unwritten;

    std::unique_ptr<FrameSink> sink;
    if (mode == Mode::png) {
        FramePattern pattern;
        pattern.prefix = folder + "/frame";
        pattern.suffix = ".png";
        pattern.hasNumber = true;
        sink = std::make_unique<PngSink>(pattern, width, height);
    } else if (mode == Mode::video) {
        const std::string path = folder + "/bench." + measure.extension;
        VideoSettings settings;
        settings.width = width;
        settings.height = height;
        settings.fps = stretch.fps;
        settings.container = measure.container;
        settings.path = path + ".part";
        settings.durationSeconds = double(frames) / stretch.fps;
        settings.quality = measure.quality;
        settings.codec = measure.codec;
        auto video = std::make_unique<VideoSink>(settings, path, nullptr);
        if (!video->start(ffmpeg).ok) std::exit(1);
        sink = std::move(video);
    } else {
        sink = std::make_unique<DiscardingSink>();
    }

    gl.glFinish();
    const double cpuStart = processCpuSeconds();
    const double encoderStart = childrenCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const CaptureResult result = runCapture(gl, pipeline, plan, *sink, nullptr, {});
    const Status finished = sink->finish();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = processCpuSeconds() - cpuStart;
    const double encoder = childrenCpuSeconds() - encoderStart;
    if (result.end != CaptureEnd::done || !finished.ok) {
        std::fprintf(stderr, "capture failed: %s%s\n", result.message.c_str(), finished.message.c_str());
        std::exit(1);
    }

    destroyPipeline(gl, pipeline);
    Timing timing{all / seconds, cpu * 1000.0 / all, encoder * 1000.0 / all};
    if (mode == Mode::video) {
        const std::string path = folder + "/bench." + measure.extension;
        timing.mbits = double(std::filesystem::file_size(path)) * 8 / 1e6 / (double(frames) / stretch.fps);
        std::vector<uint8_t> decoded = decodedFrames(path, measure.quality != VideoQuality::master);
        if (measure.quality == VideoQuality::master) {
            masterFrames = std::move(decoded);
        } else if (!masterFrames.empty() && decoded.size() == masterFrames.size()) {
            VideoMeasures measures(width, height);
            const std::size_t frameBytes = std::size_t(width) * height * 3;
            for (std::size_t at = 0; at + frameBytes <= decoded.size(); at += frameBytes)
                measures.add(masterFrames.data() + at, decoded.data() + at);
            timing.lowPassed = measures.lowPassedError();
            timing.grain = measures.grainStrength();
        }
    }
    return timing;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

constexpr const char* usage =
    "usage: quarvel-bench-capture [FRAMES at 640x360] [RUNS] [ONLY]\n"
    "       quarvel-bench-capture --stretches [RUNS] [ONLY] [WIDTHxHEIGHT@FPS]\n"
    "Times capture against pure rendering, for every mode whose name holds ONLY; --stretches does\n"
    "it over a second of each part of the show (1280x720@30 unless given), with each video's\n"
    "bitrate, blurred error and grain against the master's frames.\n";

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(usage, stdout);
        return 0;
    }
    const bool byPart = !args.empty() && args[0] == "--stretches";
    int baseFrames = 60;
    if (!args.empty()) {
        if (!byPart) baseFrames = std::max(3, std::atoi(args[0].c_str()));
        args.erase(args.begin());
    }
    const int runs = !args.empty() ? std::max(1, std::atoi(args[0].c_str())) : byPart ? 1 : 3;
    const std::string only = args.size() > 1 ? args[1] : "";
    int32_t partWidth = 1280, partHeight = 720, partFps = 30;
    char rest = 0;
    if (byPart && args.size() > 2 &&
        (std::sscanf(args[2].c_str(), "%dx%d@%d%c", &partWidth, &partHeight, &partFps, &rest) != 3 ||
         partWidth < 16 || partHeight < 16 || partFps < 2)) {
        std::fprintf(stderr, "'%s' is not a size and frame rate such as 1920x1080@60\n%s", args[2].c_str(),
                     usage);
        return 2;
    }

    struct Part {
        const char* name;
        Stretch stretch;
    };
    std::vector<Part> parts;
    if (byPart) {
        const int32_t at[] = {2'000, 12'000, 35'000, 65'000, 79'000};
        const char* names[] = {"opening", "glitches", "middle", "after 60 s", "disc grows"};
        for (int i = 0; i < 5; ++i)
            parts.push_back({names[i], {partWidth, partHeight, partFps, at[i], partFps, partFps / 2}});
    } else {
        // the busy middle of the show: trails, displacement, pulsing disc
        for (const auto& [width, height] : {std::pair{640, 360}, std::pair{1280, 720}})
            parts.push_back(
                {"25 s",
                 {width, height, 60, 25'000, std::max(3, baseFrames * 640 * 360 / (width * height)), 0}});
    }

    OffscreenGl gl;
    if (!bringUpBenchmarkGl(gl, 16, 16)) return 1;
    char folder[] = "/tmp/quarvel-bench-capture-XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    const std::string ffmpeg = "ffmpeg";  // found on PATH

    std::printf("show shaders, fresh state each run; median of %d interleaved runs\n", runs);
    // "cpu bound": the ratio a machine whose cores are all busy would give, render CPU time over
    // the capture's and ffmpeg's together
    // a lossy video's "blur off": levels between its frames and master's, both blurred; "grain":
    // its grain's strength as a share of master's (quarvel-video-measures)
    std::printf("%-11s %-10s %-18s %7s %8s %10s %12s %12s %10s %8s %9s %6s\n", "part", "size", "mode",
                "frames", "fps", "vs render", "cpu ms/frame", "ffmpeg ms/f", "cpu bound", "Mbit/s",
                "blur off", "grain");
    std::vector<Measured> modes;
    for (const Measured& measure : measured) {
        // render only is what the others are set against, master what the lossy ones are measured by
        const bool wanted = measure.mode == Mode::render || measure.quality == VideoQuality::master ||
                            std::string(measure.name).find(only) != std::string::npos;
        if (wanted) modes.push_back(measure);
    }
    for (const Part& part : parts) {
        const Stretch& stretch = part.stretch;
        std::vector<std::vector<double>> fps(modes.size()), cpu(modes.size()), encoder(modes.size());
        std::vector<Timing> last(modes.size());
        masterFrames.clear();
        for (int run = 0; run < runs; ++run) {
            for (std::size_t m = 0; m < modes.size(); ++m) {
                const Timing timing = runOnce(gl, modes[m], stretch, folder, ffmpeg);
                fps[m].push_back(timing.fps);
                cpu[m].push_back(timing.cpuMsPerFrame);
                encoder[m].push_back(timing.encoderMsPerFrame);
                last[m] = timing;  // size and measures: the same every run
            }
        }
        const double renderFps = median(fps[0]);
        const double renderCpu = median(cpu[0]);
        for (std::size_t m = 0; m < modes.size(); ++m) {
            std::printf("%-11s %4dx%-5d %-18s %7d %8.2f %10.3f %12.1f %12.1f %10.3f", part.name,
                        stretch.width, stretch.height, modes[m].name, stretch.frames, median(fps[m]),
                        median(fps[m]) / renderFps, median(cpu[m]), median(encoder[m]),
                        renderCpu / (median(cpu[m]) + median(encoder[m])));
            if (last[m].mbits > 0) std::printf(" %8.1f", last[m].mbits);
            if (last[m].grain >= 0) std::printf(" %9.2f %5.0f%%", last[m].lowPassed, last[m].grain * 100);
            std::printf("\n");
        }
        std::fflush(stdout);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
