// quarvel-soundtrack: the program that synthesises the show's soundtrack and writes it as MP3, and
// optionally as WAV. Outputs appear only when complete.
#include "soundtrack/output_file.h"
#include "soundtrack/soundtrack.h"

#include <cstdio>
#include <string>

namespace {

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

// false with a message for arguments that make no sense
bool parseOptions(int argc, char** argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--wav") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                error = "--wav needs a file name";
                return false;
            }
            if (!options.wavPath.empty()) {
                error = "--wav given twice";
                return false;
            }
            options.wavPath = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option '" + arg + "'";
            return false;
        } else if (!options.mp3Path.empty()) {
            error = "more than one output file given ('" + options.mp3Path + "' and '" + arg + "')";
            return false;
        } else if (arg.empty()) {
            error = "empty output file name";
            return false;
        } else {
            options.mp3Path = arg;
        }
    }
    if (!options.help && options.mp3Path.empty()) {
        error = "no output file given";
        return false;
    }
    if (!options.wavPath.empty() && options.wavPath == options.mp3Path) {
        error = "the MP3 and the WAV output are the same file";
        return false;
    }
    return true;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "quarvel-soundtrack: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quarvel;
    Options options;
    std::string error;
    if (!parseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "quarvel-soundtrack: %s\n%s", error.c_str(), usage);
        return 2;
    }
    if (options.help) {
        std::fputs(usage, stdout);
        return 0;
    }

    // both outputs are created first: an unwritable one fails before seconds of rendering
    PendingFile mp3File, wavFile;
    if (!mp3File.open(options.mp3Path, error)) {
        return fail(error);
    }
    if (!options.wavPath.empty() && !wavFile.open(options.wavPath, error)) {
        return fail(error);
    }

    Soundtrack soundtrack = produceSoundtrack();
    if (!soundtrack.mp3.ok()) {
        return fail("MP3 encoding failed: " + soundtrack.mp3.error);
    }
    if (!options.wavPath.empty() && !wavFile.commit(encodeWav(soundtrack.samples), error)) {
        return fail(error);
    }
    if (!mp3File.commit(soundtrack.mp3.bytes, error)) {
        return fail(error);
    }
    if (!options.quiet) {
        std::printf(
            "quarvel-soundtrack: wrote %s (%zu bytes): %.2f s, %.1f LUFS, peak %.2f dBFS, limiter %.1f dB\n",
            options.mp3Path.c_str(), soundtrack.mp3.bytes.size(),
            static_cast<double>(soundtrack.samples.frames()) / sampleRate, soundtrack.master.loudnessLufs,
            soundtrack.master.peakDbfs, soundtrack.master.deepestLimitingDb);
        std::printf("quarvel-soundtrack: synthesis %.2f s, master %.2f s, mp3 %.2f s\n",
                    soundtrack.renderSeconds, soundtrack.masterSeconds, soundtrack.encodeSeconds);
    }
    return 0;
}
