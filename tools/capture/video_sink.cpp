// The ffmpeg child: spawned in a process group of its own, so that Ctrl-C reaches only the capture,
// which then decides whether the file is kept (never, unless complete).
#include "capture/video_sink.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quarvel {

namespace {

constexpr long pipeBytesWanted = 1 << 20;

std::string decimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", value);
    return text;
}

std::string describeExit(int status) {
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

}  // namespace

std::vector<std::string> ffmpegArguments(const VideoSettings& s) {
    const std::string size = std::to_string(s.width) + "x" + std::to_string(s.height);
    std::vector<std::string> args = {
        "-hide_banner",
        "-loglevel",
        "error",
        "-nostats",
        "-y",
        "-f",
        "rawvideo",
        "-pixel_format",
        "rgba",
        "-video_size",
        size,
        "-framerate",
        std::to_string(s.fps),
        "-i",
        "pipe:0",
    };
    const bool withAudio = !s.audioPath.empty();
    const bool copied = soundtrackCopied(s.container);
    // video time 0 is the first frame written and shows soundtrack time audioStartSeconds
    const double preroll = std::min(s.audioStartSeconds, mp3PrerollSeconds);
    if (withAudio) {
        args.insert(args.end(), {"-ss", decimal(s.audioStartSeconds - preroll)});
        // a copied stream keeps its packets, so the preroll gets times before 0 and the muxer hides it
        if (copied && preroll > 0) args.insert(args.end(), {"-itsoffset", decimal(-preroll)});
        // "file:": a name with a colon is still a file, not one of ffmpeg's protocols
        args.insert(args.end(), {"-t", decimal(s.durationSeconds + preroll), "-i", "file:" + s.audioPath});
    }
    args.insert(args.end(), {"-map", "0:v:0"});
    if (withAudio) args.insert(args.end(), {"-map", "1:a:0"});

    appendVideoEncoding(s.quality, s.codec, s.container, s.width, s.height, s.fps, args);
    if (withAudio) appendAudioEncoding(s.quality, s.container, preroll, args);
    if (s.container == "mp4" || s.container == "mov") args.insert(args.end(), {"-movflags", "+faststart"});
    args.insert(args.end(), {"-f", s.container, "file:" + s.path});
    return args;
}

VideoSink::VideoSink(VideoSettings settings, std::string finalPath, const volatile std::sig_atomic_t* stop)
    : settings_(std::move(settings)), finalPath_(std::move(finalPath)), stop_(stop) {}

VideoSink::~VideoSink() {
    if (ffmpeg_ > 0) abandon();
}

Status VideoSink::start(const std::string& ffmpegProgram) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return failure(std::string("cannot make a pipe for ffmpeg: ") + std::strerror(errno));

    const std::vector<std::string> args = ffmpegArguments(settings_);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(ffmpegProgram.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);  // the capture ignores it; ffmpeg should not inherit that
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);

    // SVT-AV1 writes its banner and settings on stderr itself, past ffmpeg's -v error: errors only
    std::vector<char*> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) environment.push_back(*variable);
    static char svtErrorsOnly[] = "SVT_LOG=1";
    if (std::getenv("SVT_LOG") == nullptr) environment.push_back(svtErrorsOnly);
    environment.push_back(nullptr);
    const int error =
        posix_spawnp(&ffmpeg_, ffmpegProgram.c_str(), &actions, &attributes, argv.data(), environment.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(fds[0]);
    if (error != 0) {
        ffmpeg_ = -1;
        close(fds[1]);
        if (error == ENOENT)
            return failure("a video output needs the " + ffmpegProgram +
                           " program, and there is none on PATH");
        return failure("cannot start " + ffmpegProgram + ": " + std::strerror(error));
    }
    pipe_ = fds[1];
    // room for a whole frame where the system allows it (up to 1 MiB unprivileged), so the frame
    // loop hands a frame over and goes on drawing while ffmpeg reads; failing that, 64 KiB will do
    const long frameBytes = long{settings_.width} * settings_.height * 4;
    fcntl(pipe_, F_SETPIPE_SZ, static_cast<int>(std::min(frameBytes, pipeBytesWanted)));
    return success();
}

// the rows go as the GL reads them, bottom first: ffmpeg's vflip turns them without a copy
Status VideoSink::write(int32_t /*frame*/, const unsigned char* pixels) {
    const unsigned char* next = pixels;
    std::size_t left = static_cast<std::size_t>(settings_.width) * settings_.height * 4;
    while (left > 0) {
        const ssize_t written = ::write(pipe_, next, left);
        if (written > 0) {
            next += written;
            left -= static_cast<std::size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            if (stopped()) return failure("interrupted");
        } else if (written < 0 && errno == EPIPE) {
            return endedEarly();
        } else {
            return failure(std::string("cannot write to ffmpeg: ") + std::strerror(errno));
        }
    }
    return success();
}

bool VideoSink::stopped() const {
    return stop_ != nullptr && *stop_ != 0;
}

// ffmpeg closed its end: it has failed, and said why on standard error
Status VideoSink::endedEarly() {
    close(pipe_);
    pipe_ = -1;
    int status = 0;
    while (waitpid(ffmpeg_, &status, 0) < 0 && errno == EINTR) {}
    ffmpeg_ = -1;
    std::remove(settings_.path.c_str());
    return failure("ffmpeg stopped before the last frame (" + describeExit(status) + ")");
}

Status VideoSink::finish() {
    if (ffmpeg_ <= 0) return failure("ffmpeg is not running");
    close(pipe_);
    pipe_ = -1;
    int status = 0;
    while (waitpid(ffmpeg_, &status, 0) < 0) {
        if (errno != EINTR) return failure(std::string("lost track of ffmpeg: ") + std::strerror(errno));
        if (stopped()) {
            abandon();
            return failure("interrupted");
        }
    }
    ffmpeg_ = -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::remove(settings_.path.c_str());
        return failure("ffmpeg failed (" + describeExit(status) + ")");
    }
    if (std::rename(settings_.path.c_str(), finalPath_.c_str()) != 0) {
        const int error = errno;
        std::remove(settings_.path.c_str());
        return failure("cannot rename the finished video to " + finalPath_ + ": " + std::strerror(error));
    }
    return success();
}

void VideoSink::abandon() {
    if (ffmpeg_ > 0) {
        kill(ffmpeg_, SIGKILL);
        if (pipe_ >= 0) close(pipe_);
        pipe_ = -1;
        while (waitpid(ffmpeg_, nullptr, 0) < 0 && errno == EINTR) {}
        ffmpeg_ = -1;
    }
    std::remove(settings_.path.c_str());
}

}  // namespace quarvel
