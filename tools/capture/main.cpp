// quarvel-capture: renders the show headless, through the demo's own frame path, to PNG frames
// or to a video with its soundtrack. See captureUsage() for the command line.
#include "base/exit_status.h"
#include "base/picture_size.h"
#include "capture/capture_loop.h"
#include "capture/capture_options.h"
#include "capture/frame_plan.h"
#include "capture/png_sink.h"
#include "capture/progress.h"
#include "capture/soundtrack_file.h"
#include "capture/video_sink.h"
#include "platform/headless/egl_devices.h"
#include "render/frame_pipeline.h"
#include "render/gl_api.h"
#include "render/render_targets.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace quarvel;

// module-level because the signal handler must reach it; the loop polls it between frames
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void onStopSignal(int signal) {
    stopSignal = signal;
}

void installSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocked write to ffmpeg returns, so Ctrl-C acts at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // a dead ffmpeg shows as EPIPE on the write, with its own message
    std::signal(SIGPIPE, SIG_IGN);
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "quarvel-capture: %s\nTry 'quarvel-capture --help'.\n", message.c_str());
    return exitUsage;
}

int reportFailure(const std::string& message) {
    std::fprintf(stderr, "quarvel-capture: %s\n", message.c_str());
    return exitFailure;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The output's folder must exist and take new files; the output itself must not be a folder.
Status checkOutputPlace(const CaptureOptions& options) {
    const std::string folder = folderOf(options.output);
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0) {
        if (errno == ENOENT) return failure("the output folder '" + folder + "' does not exist");
        return failure("the output folder '" + folder + "' cannot be reached: " + std::strerror(errno));
    }
    if (!S_ISDIR(info.st_mode)) return failure("'" + folder + "' is not a folder");
    if (access(folder.c_str(), W_OK | X_OK) != 0)
        return failure("the output folder '" + folder + "' cannot be written: " + std::strerror(errno));
    if (options.outputKind != OutputKind::framePattern && stat(options.output.c_str(), &info) == 0 &&
        S_ISDIR(info.st_mode))
        return failure("OUTPUT '" + options.output + "' is a folder");
    return success();
}

// GL for the capture: a tiny surface is enough, since every frame goes to the capture's own
// framebuffer; then the capture's own entry points and a size the GL can draw. A size beyond the
// GL's limits is the user's to change (`sizeRefused`).
struct GlSetup {
    Status status;
    bool sizeRefused = false;
    std::string renderer;
};

GlSetup openGl(OffscreenGl& gl, int32_t width, int32_t height) {
    const GlBringUp up = bringUpOffscreenGl(gl, 16, 16);
    if (!up.status.ok) return {failure("no usable headless OpenGL: " + up.status.message), false, {}};
    const PictureSize limit = glPictureLimit(gl.glGetIntegerv);
    if (!fitsWithin({width, height}, limit)) {
        return {failure("--size " + std::to_string(width) + "x" + std::to_string(height) +
                        " is beyond this OpenGL's limit of " + std::to_string(limit.width) + "x" +
                        std::to_string(limit.height) + " (" + up.version.renderer + ")"),
                true,
                {}};
    }
    return {success(), false, up.version.renderer};
}

std::string describeWritten(const CaptureOptions& options, const FramePlan& plan) {
    const auto last = static_cast<int32_t>(plan.clocks.size()) - 1;
    switch (options.outputKind) {
        case OutputKind::singleImage:
            return "frame " + std::to_string(last) + " (clock " + std::to_string(plan.clocks[last]) +
                   " ms) to " + options.output;
        case OutputKind::framePattern:
            return "frames " + std::to_string(plan.firstWritten) + " to " + std::to_string(last) + " as " +
                   options.output;
        case OutputKind::video: break;
    }
    // the file's size and its average bitrate, sound included
    const int32_t frames = last + 1 - plan.firstWritten;
    std::error_code unknown;
    const auto bytes = static_cast<double>(std::filesystem::file_size(options.output, unknown));
    char size[64] = "";
    if (!unknown && frames > 0)
        std::snprintf(size, sizeof size, ", %.1f MB, %.1f Mbit/s", bytes / 1e6,
                      bytes * 8 / 1e6 * options.fps / frames);
    return std::to_string(frames) + " frames at " + std::to_string(options.fps) + " fps to " +
           options.output + " (" + qualityName(options.quality) + size + ")";
}

int run(const std::vector<std::string>& args) {
    const ParsedCommandLine parsed = parseCaptureOptions(args);
    if (!parsed.status.ok) return usageError(parsed.status.message);
    if (parsed.version) {
        std::puts("quarvel-capture " QUARVEL_VERSION);
        return exitSuccess;
    }
    if (parsed.listDevices) {
        std::fputs(platform::describeEglDevices(platform::listEglDevices()).c_str(), stdout);
        return exitSuccess;
    }
    if (parsed.help) {
        const SoundtrackChoice here = chooseSoundtrack("", installedSoundtrack());
        std::fputs(captureUsage(describeSoundtrack(here)).c_str(), stdout);
        return exitSuccess;
    }
    const CaptureOptions& options = parsed.options;
    const FramePlanResult planned = makeFramePlan(options);
    if (!planned.status.ok) return usageError(planned.status.message);
    const FramePlan& plan = planned.plan;

    if (Status place = checkOutputPlace(options); !place.ok) return reportFailure(place.message);
    SoundtrackChoice soundtrack;
    if (options.outputKind == OutputKind::video) {
        soundtrack = chooseSoundtrack(options.audio, installedSoundtrack());
        if (!soundtrack.status.ok) return reportFailure(soundtrack.status.message);
        if (soundtrack.path.empty())
            std::fputs(
                "quarvel-capture: note: there is no audio.mp3 in the working folder and none installed, "
                "so the video has no sound\n",
                stderr);
    }

    // from here on a signal stops the capture cleanly instead of killing the process
    installSignalHandlers();

    if (!options.device.empty()) {
        if (Status chosen = platform::chooseEglDevice(options.device); !chosen.ok)
            return usageError("--device: " + chosen.message);
    }
    OffscreenGl gl;
    const GlSetup setup = openGl(gl, options.width, options.height);
    if (!setup.status.ok)
        return setup.sizeRefused ? usageError(setup.status.message) : reportFailure(setup.status.message);

    // a fresh state: createRenderTargets starts every target zeroed
    Pipeline pipeline;
    const ProgramsResult programs =
        createPipeline(gl, builtInShaderSources(), options.width, options.height, pipeline);
    if (!programs.status.ok) return reportFailure(programs.status.message);

    std::unique_ptr<FrameSink> sink;
    if (options.outputKind == OutputKind::video) {
        const auto framesWritten = static_cast<int32_t>(plan.clocks.size()) - plan.firstWritten;
        VideoSettings settings;
        settings.width = options.width;
        settings.height = options.height;
        settings.fps = options.fps;
        settings.container = options.container;
        settings.path = options.output + ".part";
        settings.audioPath = soundtrack.path;
        settings.audioStartSeconds = static_cast<double>(plan.firstWritten) / options.fps;
        settings.durationSeconds = static_cast<double>(framesWritten) / options.fps;
        settings.quality = options.quality;
        settings.codec = options.codec;
        auto video = std::make_unique<VideoSink>(settings, options.output, &stopSignal);
        if (Status started = video->start("ffmpeg"); !started.ok) return reportFailure(started.message);
        sink = std::move(video);
    } else {
        sink = std::make_unique<PngSink>(options.pattern, options.width, options.height);
    }

    const auto total = static_cast<int32_t>(plan.clocks.size());
    ProgressLine progress(total, isatty(STDERR_FILENO) == 1);
    const CaptureResult result = runCapture(gl, pipeline, plan, *sink, &stopSignal,
                                            [&progress](int32_t done) { progress.update(done); });
    Status finished = failure(result.message);
    if (result.end == CaptureEnd::done) finished = sink->finish();
    else sink->abandon();
    progress.end();

    const bool finishInterrupted = result.end == CaptureEnd::done && !finished.ok && stopSignal != 0;
    if (result.end == CaptureEnd::interrupted || finishInterrupted) {
        std::fprintf(stderr, "quarvel-capture: stopped by %s after %d frames; nothing incomplete was kept\n",
                     stopSignal == SIGTERM ? "SIGTERM" : "Ctrl-C", result.framesRendered);
        return exitOnSignal(stopSignal != 0 ? static_cast<int>(stopSignal) : SIGINT);
    }
    if (result.end == CaptureEnd::failed) return reportFailure(result.message);
    if (!finished.ok) return reportFailure(finished.message);

    char elapsed[32];
    const double seconds = progress.elapsedSeconds();
    formatDuration(seconds, elapsed, sizeof elapsed);
    std::fprintf(stderr, "quarvel-capture: %d frames of %dx%d rendered in %s (%.1f fps) on %s; wrote %s\n",
                 total, options.width, options.height, elapsed, seconds > 0 ? total / seconds : 0.0,
                 setup.renderer.c_str(), describeWritten(options, plan).c_str());
    return exitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
    // the GL objects and the context are left to process exit, like the demo's
    return run(std::vector<std::string>(argv + 1, argv + argc));
}
