// Prints how fast the capture runs against pure rendering of the same frames: the show's own
// shaders, the same frame path, with and without the pixel-buffer readback, and with the PNG writer
// and every video preset behind it. Each figure is the median of interleaved runs from a fresh state.
// Usage: quarvel-bench-capture [frames at 640x360] [runs] [only the modes whose name has this text]
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

Timing runOnce(const OffscreenGl& gl, const Measured& measure, int32_t width, int32_t height, int frames,
               const std::string& folder, const std::string& ffmpeg) {
    const Mode mode = measure.mode;
    Pipeline pipeline;
    const ProgramsResult programs = createPipeline(gl, builtInShaderSources(), width, height, pipeline);
    if (!programs.status.ok) {
        std::fprintf(stderr, "%s\n", programs.status.message.c_str());
        std::exit(1);
    }

    // the busy middle of the show: trails, displacement, pulsing disc
    FramePlan plan;
    for (int n = 0; n < frames; ++n) plan.clocks.push_back(25'000 + n * 1000 / 60);
    plan.firstWritten = mode == Mode::render ? frames : 0;

    std::unique_ptr<FrameSink> sink;
    if (mode == Mode::png) {
        FramePattern pattern;
        pattern.prefix = folder + "/frame";
        pattern.suffix = ".png";
        pattern.hasNumber = true;
        sink = std::make_unique<PngSink>(pattern, width, height);
    } else if (mode == Mode::video) {
        const std::string path = folder + "/bench." + measure.extension;
        VideoSettings settings{width,         height,         60, measure.container, path + ".part", "", 0,
                               frames / 60.0, measure.quality};
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
    Timing timing{frames / seconds, cpu * 1000.0 / frames, encoder * 1000.0 / frames};
    if (mode == Mode::video) {
        const std::string path = folder + "/bench." + measure.extension;
        timing.mbits = double(std::filesystem::file_size(path)) * 8 / 1e6 / (frames / 60.0);
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

}  // namespace

int main(int argc, char** argv) {
    const int baseFrames = argc > 1 ? std::max(3, std::atoi(argv[1])) : 60;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::string only = argc > 3 ? argv[3] : "";

    OffscreenGl gl;
    if (!bringUpBenchmarkGl(gl, 16, 16)) return 1;
    char folder[] = "/tmp/quarvel-bench-capture-XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    const std::string ffmpeg = "ffmpeg";  // found on PATH

    std::printf("show shaders from clock 25 s, fresh state each run; median of %d interleaved runs\n", runs);
    // "cpu bound": the ratio a machine whose cores are all busy would give, render CPU time over
    // the capture's and ffmpeg's together
    // a lossy video's "blur off": levels between its frames and master's, both blurred; "grain":
    // its grain's strength as a share of master's (quarvel-video-measures)
    std::printf("%-10s %-18s %7s %8s %10s %12s %12s %10s %8s %9s %6s\n", "size", "mode", "frames", "fps",
                "vs render", "cpu ms/frame", "ffmpeg ms/f", "cpu bound", "Mbit/s", "blur off", "grain");
    std::vector<Measured> modes;
    for (const Measured& measure : measured) {
        const bool wanted =
            measure.mode == Mode::render || std::string(measure.name).find(only) != std::string::npos;
        if (wanted) modes.push_back(measure);
    }
    const int32_t sizes[][2] = {{640, 360}, {1280, 720}};
    for (const auto& size : sizes) {
        const int frames = std::max(3, baseFrames * 640 * 360 / (size[0] * size[1]));
        std::vector<std::vector<double>> fps(modes.size()), cpu(modes.size()), encoder(modes.size());
        std::vector<Timing> last(modes.size());
        masterFrames.clear();
        for (int run = 0; run < runs; ++run) {
            for (std::size_t m = 0; m < modes.size(); ++m) {
                const Timing timing = runOnce(gl, modes[m], size[0], size[1], frames, folder, ffmpeg);
                fps[m].push_back(timing.fps);
                cpu[m].push_back(timing.cpuMsPerFrame);
                encoder[m].push_back(timing.encoderMsPerFrame);
                last[m] = timing;  // size and measures: the same every run
            }
        }
        const double renderFps = median(fps[0]);
        const double renderCpu = median(cpu[0]);
        for (std::size_t m = 0; m < modes.size(); ++m) {
            std::printf("%4dx%-5d %-18s %7d %8.2f %10.3f %12.1f %12.1f %10.3f", size[0], size[1],
                        modes[m].name, frames, median(fps[m]), median(fps[m]) / renderFps, median(cpu[m]),
                        median(encoder[m]), renderCpu / (median(cpu[m]) + median(encoder[m])));
            if (last[m].mbits > 0) std::printf(" %8.1f", last[m].mbits);
            if (last[m].grain >= 0) std::printf(" %9.2f %5.0f%%", last[m].lowPassed, last[m].grain * 100);
            std::printf("\n");
        }
        std::fflush(stdout);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
