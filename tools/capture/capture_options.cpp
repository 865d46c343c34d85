// Parses quarvel-capture's command line into CaptureOptions with getopt_long, with one clear message
// per mistake.
#include "capture/capture_options.h"

#include "base/picture_size.h"
#include "base/show_timeline.h"

#include <cassert>
#include <cctype>
#include <charconv>
#include <cmath>
#include <getopt.h>
#include <optional>
#include <string_view>

namespace quarvel {

namespace {

// a window far outside the show is still accepted, within what milliseconds can count
constexpr double maxSecondsAccepted = 1.0e6;

template <typename T>
bool parseWhole(std::string_view text, T& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

bool parseSecondsAsMs(std::string_view text, int32_t& ms) {
    double seconds = 0;
    if (!parseWhole(text, seconds) || !std::isfinite(seconds) || std::fabs(seconds) > maxSecondsAccepted)
        return false;
    ms = static_cast<int32_t>(std::llround(seconds * 1000.0));
    return true;
}

bool parseClockList(std::string_view text, std::vector<int32_t>& clocks) {
    clocks.clear();
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::string_view item =
            text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        int32_t value = 0;
        if (!parseWhole(item, value)) return false;
        clocks.push_back(value);
        if (comma == std::string_view::npos) return true;
        start = comma + 1;
    }
}

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

bool endsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// Splits a file name around its one %d (an optional 0 flag and width allowed) and turns %% into %.
Status splitPattern(std::string_view name, FramePattern& pattern) {
    pattern = {};
    std::string* part = &pattern.prefix;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '%') {
            part->push_back(name[i]);
            continue;
        }
        if (i + 1 < name.size() && name[i + 1] == '%') {
            part->push_back('%');
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        const bool zero = j < name.size() && name[j] == '0';
        if (zero) ++j;
        int width = 0;
        while (j < name.size() && name[j] >= '0' && name[j] <= '9' && width < 100)
            width = width * 10 + (name[j++] - '0');
        if (j >= name.size() || name[j] != 'd')
            return failure(
                "OUTPUT: the only conversion a frame pattern may hold is a frame number such as %05d "
                "(write %% for a percent sign)");
        if (pattern.hasNumber) return failure("OUTPUT: a frame pattern holds one frame number, not two");
        if (width > 10) return failure("OUTPUT: a frame number is at most 10 digits wide");
        pattern.hasNumber = true;
        pattern.zeroPad = zero;
        pattern.width = width;
        part = &pattern.suffix;
        i = j;
    }
    return success();
}

Status classifyOutput(CaptureOptions& options) {
    const std::string& output = options.output;
    const std::size_t slash = output.rfind('/');
    const std::string_view folder =
        slash == std::string::npos ? std::string_view() : std::string_view(output).substr(0, slash);
    const std::string_view file =
        slash == std::string::npos ? std::string_view(output) : std::string_view(output).substr(slash + 1);
    if (file.empty()) return failure("OUTPUT names a folder, not a file");
    if (folder.find('%') != std::string_view::npos)
        return failure("OUTPUT: the frame number belongs in the file name, not in the folder");

    const std::string lower = lowerCase(file);
    const struct {
        const char* extension;
        const char* container;
    } videos[] = {{".mp4", "mp4"}, {".mkv", "matroska"}, {".webm", "webm"}, {".mov", "mov"}};
    for (const auto& video : videos) {
        if (!endsWith(lower, video.extension)) continue;
        if (file.find('%') != std::string_view::npos)
            return failure("OUTPUT: a frame number pattern writes PNG files; a video name has no %");
        if (file.size() == std::string_view(video.extension).size())
            return failure("OUTPUT: the video file has no name before its extension");
        options.outputKind = OutputKind::video;
        options.container = video.container;
        return success();
    }
    if (!endsWith(lower, ".png"))
        return failure(
            "OUTPUT must end in .png (a frame pattern such as frames/%05d.png, or one image) or in .mp4, "
            ".mkv, .webm or .mov");
    if (Status split = splitPattern(output, options.pattern); !split.ok) return split;
    options.outputKind = options.pattern.hasNumber ? OutputKind::framePattern : OutputKind::singleImage;
    return success();
}

ParsedCommandLine refused(std::string message) {
    ParsedCommandLine result;
    result.status = failure(std::move(message));
    return result;
}

// long options' values lie above every character, so an error names a short option by its letter
enum LongOption : int {
    helpOption = 256,
    versionOption,
    sizeOption,
    fpsOption,
    fromOption,
    toOption,
    clockOption,
    qualityOption,
    audioOption,
    codecOption,
    deviceOption,
    listDevicesOption,
};

constexpr option longOptions[] = {
    {"help", no_argument, nullptr, helpOption},
    {"version", no_argument, nullptr, versionOption},
    {"size", required_argument, nullptr, sizeOption},
    {"fps", required_argument, nullptr, fpsOption},
    {"from", required_argument, nullptr, fromOption},
    {"to", required_argument, nullptr, toOption},
    {"clock", required_argument, nullptr, clockOption},
    {"quality", required_argument, nullptr, qualityOption},
    {"audio", required_argument, nullptr, audioOption},
    {"codec", required_argument, nullptr, codecOption},
    {"device", required_argument, nullptr, deviceOption},
    {"list-devices", no_argument, nullptr, listDevicesOption},
    {nullptr, 0, nullptr, 0},
};

std::string_view optionName(int value) {
    for (const option& entry : longOptions)
        if (entry.name != nullptr && entry.val == value) return entry.name;
    return "?";
}

}  // namespace

void frameFileName(const FramePattern& pattern, int32_t frame, std::string& name) {
    assert(frame >= 0);
    name.assign(pattern.prefix);
    if (pattern.hasNumber) {
        char digits[16];
        const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, frame);
        assert(ec == std::errc());
        for (auto count = end - digits; count < pattern.width; ++count)
            name.push_back(pattern.zeroPad ? '0' : ' ');
        name.append(digits, end);
    }
    name.append(pattern.suffix);
}

ParsedCommandLine parseCaptureOptions(const std::vector<std::string>& args) {
    CaptureOptions options;
    bool rateGiven = false;
    bool clockGiven = false;
    bool qualityGiven = false;
    bool audioGiven = false;

    // getopt_long wants a writable argv with the program's name first
    std::vector<std::string> words{"quarvel-capture"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());
    optind = 0;  // glibc: start afresh, as every call parses a new command line
    opterr = 0;
    // "+": the options stop at the first other argument, which must then be OUTPUT and the last
    for (int code; (code = getopt_long(argc, argv.data(), "+:h", longOptions, nullptr)) != -1;) {
        const std::string_view value = optarg == nullptr ? "" : optarg;
        switch (code) {
            case 'h':
            case helpOption:
            case versionOption:
            case listDevicesOption: {
                ParsedCommandLine result;
                result.status = success();
                (code == versionOption       ? result.version
                 : code == listDevicesOption ? result.listDevices
                                             : result.help) = true;
                return result;
            }
            case ':': return refused("--" + std::string(optionName(optopt)) + " needs a value");
            case '?': {
                // a short option by its letter; a long one (unknown, ambiguous or given a value it
                // does not take) as written, without its value
                if (optopt > 0 && optopt < helpOption)
                    return refused(std::string("unknown option -") + static_cast<char>(optopt));
                const std::string_view written = argv[optind - 1];
                return refused("unknown option " + std::string(written.substr(0, written.find('='))));
            }
            case sizeOption: {
                PictureSize size;
                switch (parsePictureSize(value, size)) {
                    case PictureSizeParse::ok: break;
                    case PictureSizeParse::malformed:
                        return refused("--size takes WIDTHxHEIGHT in pixels, such as 1280x720; not '" +
                                       std::string(value) + "'");
                    case PictureSizeParse::zero:
                        return refused("--size: width and height must be at least 1 pixel");
                    case PictureSizeParse::tooLarge:
                        return refused("--size " + std::string(value) + " is too large");
                }
                options.width = size.width;
                options.height = size.height;
                break;
            }
            case fpsOption:
                if (!parseWhole(value, options.fps) || options.fps < minFps || options.fps > maxFps)
                    return refused("--fps takes a whole number of frames per second from " +
                                   std::to_string(minFps) + " to " + std::to_string(maxFps) + "; not '" +
                                   std::string(value) + "'");
                rateGiven = true;
                break;
            case fromOption:
            case toOption: {
                int32_t ms = 0;
                if (!parseSecondsAsMs(value, ms))
                    return refused("--" + std::string(optionName(code)) +
                                   " takes seconds of the show, such as 30.5; not '" + std::string(value) +
                                   "'");
                (code == fromOption ? options.fromMs : options.toMs) = ms;
                rateGiven = true;
                break;
            }
            case codecOption: {
                const std::optional<VideoCodec> codec = codecNamed(value);
                if (!codec) return refused("--codec takes h264 or av1; not '" + std::string(value) + "'");
                options.codec = *codec;
                qualityGiven = true;
                break;
            }
            case deviceOption:
                // which devices there are, the GL backend knows
                options.device = value;
                break;
            case audioOption:
                if (value.empty()) return refused("--audio needs a file name");
                options.audio = value;
                audioGiven = true;
                break;
            case qualityOption: {
                const std::optional<VideoQuality> quality = qualityNamed(value);
                if (!quality) {
                    std::string names;
                    for (const QualityPreset& preset : qualityPresets)
                        names += std::string(names.empty() ? "" : ", ") + preset.name;
                    return refused("--quality takes one of " + names + "; not '" + std::string(value) + "'");
                }
                options.quality = *quality;
                qualityGiven = true;
                break;
            }
            case clockOption:
                if (!parseClockList(value, options.clocks))
                    return refused(
                        "--clock takes clock values in whole milliseconds separated by commas, such as "
                        "-50,0,1000; not '" +
                        std::string(value) + "'");
                clockGiven = true;
                break;
        }
    }
    if (optind < argc) {
        if (optind + 1 < argc)
            return refused("OUTPUT must be the last argument; '" + std::string(argv[optind]) +
                           "' is followed by more");
        options.output = argv[optind];
    }

    if (options.output.empty())
        return refused("no OUTPUT given (a frame pattern such as frames/%05d.png, one .png, or a video)");
    if (clockGiven && rateGiven)
        return refused("--clock names every frame itself; it does not combine with --fps, --from or --to");
    if (options.fromMs && options.toMs && *options.fromMs > *options.toMs)
        return refused("--from is later than --to");

    if (Status classified = classifyOutput(options); !classified.ok)
        return refused(std::move(classified.message));
    if (qualityGiven && options.outputKind != OutputKind::video)
        return refused("--quality chooses how a video is encoded; PNG frames are always lossless");
    if (audioGiven && options.outputKind != OutputKind::video)
        return refused("--audio gives a video its sound; PNG frames have none");
    if (options.outputKind == OutputKind::video) {
        if (Status fits = checkQualityFits(options.quality, options.codec, options.container, options.width,
                                           options.height);
            !fits.ok)
            return refused(std::move(fits.message));
    }
    if (clockGiven && options.outputKind == OutputKind::video)
        return refused("--clock writes images only; a video needs a frame rate (--fps)");
    // 4:2:0 video stores colour for 2x2 blocks, so the encoders refuse odd sizes
    if (options.outputKind == OutputKind::video && (options.width % 2 != 0 || options.height % 2 != 0))
        return refused("a video needs an even width and height; --size " + std::to_string(options.width) +
                       "x" + std::to_string(options.height) + " is odd");

    ParsedCommandLine result;
    result.status = success();
    result.options = std::move(options);
    return result;
}

std::string captureUsage(const std::string& soundtrackLine) {
    std::string usage = R"(Usage: quarvel-capture [OPTIONS] OUTPUT

Renders the show headless, through the demo's own frame path, at a fixed frame rate from a fresh
state, and writes it to OUTPUT.

OUTPUT (always the last argument):
  frames/%05d.png      one PNG per frame, numbered by frame (printf-style, %% for a percent sign)
  still.png            the last frame only
  show.mp4             a video through ffmpeg (.mp4, .mkv, .webm or .mov), with the soundtrack
                       when there is one (see --audio): copied as it is, or as Opus in .webm

Options:
  --size WxH           picture size in pixels (default 1920x1080; even for a video)
)";
    // the limits and the timeline's numbers from where they are kept
    usage += "  --fps N              frames per second, " + std::to_string(minFps) + " to " +
             std::to_string(maxFps) + " (default " + std::to_string(CaptureOptions{}.fps) +
             "); frame k shows the demo clock\n                       round(k * 1000 / N) - " +
             std::to_string(clockLagMs) + " ms, and the last frame is the first at " +
             std::to_string(runLengthMs / 1000) + " s or later\n";
    usage += R"(  --from SECONDS       write only frames from this demo time on; earlier frames are still
                       rendered, since each frame builds on the one before
  --to SECONDS         stop after the last frame at or before this demo time
  --clock LIST         render exactly these demo clock values in milliseconds, comma-separated
                       (such as -50,0,1000), in that order from a fresh state; images only
  --quality NAME       how a video is encoded:
)";
    for (const QualityPreset& preset : qualityPresets) {
        std::string line = "    ";
        line += preset.name;
        line.resize(23, ' ');
        usage += line + preset.summary + "\n";
    }
    usage +=
        R"(  --codec NAME         share's codec: h264 (the default but in .webm) or av1 (the default in .webm;
                       in .mp4 and .mkv on request). AV1's players draw the grain again from a
                       description of it: browsers, VLC and mpv play it; older TVs and phones may not
  --audio FILE         the soundtrack of a video; without it, audio.mp3 in the working folder,
                       or else the one installed with the program (share/quarvel/audio.mp3)
  --device N           render on EGL device N (see --list-devices); without it, the first GPU
                       that gives OpenGL, else Mesa's software rasteriser. QUARVEL_EGL_DEVICE
                       chooses the same way for the benchmarks
  --list-devices       list the EGL devices, by number, and whether each is a GPU or software
  --help               show this text
  --version            print the version

A progress line goes to standard error when it is a terminal; a summary always does.
Exit status: 0 done, 1 the capture failed (nothing partial is left behind), 2 bad arguments,
130 or 143 when stopped by Ctrl-C or SIGTERM.
)";
    return usage + "\n" + soundtrackLine + "\n";
}

}  // namespace quarvel
