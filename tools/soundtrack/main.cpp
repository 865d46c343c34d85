// quarvel-soundtrack: the program that synthesises the show's soundtrack and writes it as MP3, and
// optionally as WAV. Outputs appear only when complete.
#include "base/exit_status.h"
#include "base/status.h"
#include "soundtrack/output_file.h"
#include "soundtrack/soundtrack.h"

#include <cstdio>
#include <string>

namespace {

using namespace quarvel;

constexpr const char* usage =
    "usage: quarvel-soundtrack OUTPUT.mp3 [--wav OUTPUT.wav] [--quiet]\n"
    "  renders the 86-second soundtrack of the show and encodes it as MP3\n"
    "  --wav PATH   also write the raw render as 32-bit float WAV\n"
    "  --quiet      print nothing on success\n";

struct Options {
    std::string mp3Path;
    std::string wavPath;
    bool quiet = false;
    bool help = false;
};

// a failure with a message for arguments that make no sense
Status parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--wav") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                return failure("--wav needs a file name");
            }
            if (!options.wavPath.empty()) {
                return failure("--wav given twice");
            }
            options.wavPath = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            return failure("unknown option '" + arg + "'");
        } else if (!options.mp3Path.empty()) {
            return failure("more than one output file given ('" + options.mp3Path + "' and '" + arg + "')");
        } else if (arg.empty()) {
            return failure("empty output file name");
        } else {
            options.mp3Path = arg;
        }
    }
    if (!options.help && options.mp3Path.empty()) {
        return failure("no output file given");
    }
    if (!options.wavPath.empty() && options.wavPath == options.mp3Path) {
        return failure("the MP3 and the WAV output are the same file");
    }
    return success();
}

int fail(const std::string& message) {
    std::fprintf(stderr, "quarvel-soundtrack: %s\n", message.c_str());
    return exitFailure;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (Status parsed = parseOptions(argc, argv, options); !parsed.ok) {
        std::fprintf(stderr, "quarvel-soundtrack: %s\n%s", parsed.message.c_str(), usage);
        return exitUsage;
    }
    if (options.help) {
        std::fputs(usage, stdout);
        return exitSuccess;
    }

    // both outputs are created first: an unwritable one fails before seconds of rendering
    PendingFile mp3File, wavFile;
    if (Status opened = mp3File.open(options.mp3Path); !opened.ok) {
        return fail(opened.message);
    }
    if (!options.wavPath.empty()) {
        if (Status opened = wavFile.open(options.wavPath); !opened.ok) {
            return fail(opened.message);
        }
    }

    Soundtrack soundtrack = produceSoundtrack();
    if (!soundtrack.encoded.ok) {
        return fail("MP3 encoding failed: " + soundtrack.encoded.message);
    }
    if (!options.wavPath.empty()) {
        if (Status written = wavFile.commit(encodeWav(soundtrack.samples)); !written.ok) {
            return fail(written.message);
        }
    }
    if (Status written = mp3File.commit(soundtrack.mp3); !written.ok) {
        return fail(written.message);
    }
    if (!options.quiet) {
        std::printf(
            "quarvel-soundtrack: wrote %s (%zu bytes): %.2f s, %.1f LUFS, peak %.2f dBFS, limiter %.1f dB\n",
            options.mp3Path.c_str(), soundtrack.mp3.size(),
            static_cast<double>(soundtrack.samples.frames()) / sampleRate, soundtrack.master.loudnessLufs,
            soundtrack.master.peakDbfs, soundtrack.master.deepestLimitingDb);
        std::printf("quarvel-soundtrack: synthesis %.2f s, master %.2f s, mp3 %.2f s\n",
                    soundtrack.renderSeconds, soundtrack.masterSeconds, soundtrack.encodeSeconds);
    }
    return exitSuccess;
}
