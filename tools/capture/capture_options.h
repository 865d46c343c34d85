// The command line of quarvel-capture: what to render (size, rate, a window of the show or an
// explicit list of clock values) and where it goes. Parsing is a pure function so every rule is testable.
#pragma once

#include "base/status.h"
#include "capture/video_presets.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quarvel {

enum class OutputKind {
    framePattern,  // frames/%05d.png: one PNG per frame
    singleImage,   // still.png: the last frame only
    video,         // show.mp4, .mkv, .webm, .mov: through ffmpeg, with the soundtrack
};

// A file name with at most one printf-style frame number, split around it.
struct FramePattern {
    std::string prefix;  // text before the number, "%%" already turned into "%"
    std::string suffix;
    bool hasNumber = false;
    bool zeroPad = false;
    int width = 0;  // minimum number of digits
};

// Writes the name of frame `frame` into `name`, reusing its storage.
void frameFileName(const FramePattern& pattern, int32_t frame, std::string& name);

struct CaptureOptions {
    int32_t width = 1920;
    int32_t height = 1080;
    int32_t fps = 60;
    std::optional<int32_t> fromMs;  // demo clock, milliseconds
    std::optional<int32_t> toMs;
    std::vector<int32_t> clocks;  // --clock; empty for a capture at a frame rate
    std::string output;
    OutputKind outputKind = OutputKind::video;
    FramePattern pattern;   // image outputs: the file name, with its number for a pattern
    std::string container;  // video outputs: ffmpeg's format name (mp4, matroska, webm, mov)
    VideoQuality quality = VideoQuality::share;  // video outputs: --quality
    VideoCodec codec = VideoCodec::automatic;    // video outputs: --codec, share's codec
    std::string audio;   // video outputs: --audio, the soundtrack to use; empty to look for one
    std::string device;  // --device: the EGL device to render on, by its index; empty to let EGL choose
};

struct ParsedCommandLine {
    Status status;             // when failed: one line for the user
    bool help = false;         // --help: print captureUsage() and succeed
    bool version = false;      // --version: print the version and succeed
    bool listDevices = false;  // --list-devices: list the EGL devices and succeed
    CaptureOptions options;
};

inline constexpr int32_t minFps = 1;
inline constexpr int32_t maxFps = 240;

// `args` excludes the program name. Checks only what the arguments themselves say; the
// output folder, ffmpeg and the GL size limits are checked by the caller. One thread at a time:
// getopt_long keeps its place in globals.
ParsedCommandLine parseCaptureOptions(const std::vector<std::string>& args);

// `soundtrackLine` ends the text: which file a video would take its sound from, in this folder.
std::string captureUsage(const std::string& soundtrackLine);

}  // namespace quarvel
