// Tests of the quarvel-soundtrack program: refusals leave no file behind, and a real run writes an
// MP3 that an independent decoder measures within the bounds.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace quarvel {
namespace {

namespace fs = std::filesystem;

struct ProcessResult {
    int status;
    std::string out;
    std::string err;
};

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (char c : text) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

std::string readText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("quarvel-program-test-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_ / "work");
    }
    void TearDown() override { fs::remove_all(dir_); }

    ProcessResult run(const std::string& program, const std::vector<std::string>& args) const {
        std::string command = quoted(program);
        for (const std::string& arg : args) {
            command += ' ';
            command += quoted(arg);
        }
        command += " >";
        command += quoted((dir_ / "stdout").string());
        command += " 2>";
        command += quoted((dir_ / "stderr").string());
        int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readText(dir_ / "stdout"), readText(dir_ / "stderr")};
    }

    std::vector<std::string> workFiles() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::recursive_directory_iterator(dir_ / "work")) {
            found.push_back(entry.path().lexically_relative(dir_ / "work").string());
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    std::string work(const std::string& name) const { return (dir_ / "work" / name).string(); }

    fs::path dir_;
};

TEST_F(ProgramTest, RefusesBadInvocationsClearlyAndLeavesNoFile) {
    fs::create_directories(dir_ / "work" / "folder");
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {{}, 2, "no output file given"},
        {{"--bogus", work("a.mp3")}, 2, "unknown option '--bogus'"},
        {{work("a.mp3"), "--wav"}, 2, "--wav needs a file name"},
        {{work("a.mp3"), work("b.mp3")}, 2, "more than one output file"},
        {{work("a.mp3"), "--wav", work("a.mp3")}, 2, "the same file"},
        {{work("missing/a.mp3")}, 1, "cannot write"},
        {{work("folder")}, 1, "is a directory"},
        {{work("a.mp3"), "--wav", work("missing/a.wav")}, 1, "cannot write"},
    };
    for (const Case& c : cases) {
        ProcessResult result = run(QUARVEL_SOUNDTRACK_PROGRAM, c.args);
        std::string shown = c.args.empty() ? "(no arguments)" : c.args.front();
        EXPECT_EQ(result.status, c.status) << shown << ": " << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << shown << ": " << result.err;
        EXPECT_EQ(workFiles(), std::vector<std::string>{"folder"}) << shown;
    }
}

// the number that follows the first `label` in `text`; 1e9 when there is none
double numberAfter(const std::string& text, const std::string& label) {
    const std::size_t at = text.find(label);
    if (at == std::string::npos) return 1e9;
    const char* start = text.c_str() + at + label.size();
    char* end = nullptr;
    const double value = std::strtod(start, &end);
    return end == start ? 1e9 : value;
}

// the value that follows a label in ffmpeg's ebur128 summary
double summaryValue(const std::string& log, const std::string& label) {
    const std::size_t summary = log.rfind("Summary:");
    return numberAfter(log.substr(summary == std::string::npos ? 0 : summary), label);
}

TEST_F(ProgramTest, WritesAnMp3ThatADecoderMeasuresWithinBounds) {
    ProcessResult result = run(QUARVEL_SOUNDTRACK_PROGRAM, {work("audio.mp3"), "--wav", work("audio.wav")});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(workFiles(), (std::vector<std::string>{"audio.mp3", "audio.wav"}));
    EXPECT_EQ(fs::file_size(work("audio.wav")), 58u + 86u * 44100u * 8u);

    if (std::string(QUARVEL_FFMPEG).find("NOTFOUND") != std::string::npos ||
        std::string(QUARVEL_FFPROBE).find("NOTFOUND") != std::string::npos) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    ProcessResult probe = run(QUARVEL_FFPROBE, {"-v", "error", "-show_entries",
                                                "format=duration:stream=sample_rate,channels,bit_rate", "-of",
                                                "default=noprint_wrappers=1", work("audio.mp3")});
    ASSERT_EQ(probe.status, 0) << probe.err;
    EXPECT_NEAR(numberAfter(probe.out, "duration="), 86.0, 0.1) << probe.out;
    EXPECT_NE(probe.out.find("sample_rate=44100"), std::string::npos) << probe.out;
    EXPECT_NE(probe.out.find("channels=2"), std::string::npos) << probe.out;
    const double bitRate = numberAfter(probe.out, "bit_rate=");
    EXPECT_GE(bitRate, 192000.0) << probe.out;
    EXPECT_LT(bitRate, 1e9) << probe.out;

    ProcessResult meter = run(QUARVEL_FFMPEG, {"-hide_banner", "-nostats", "-i", work("audio.mp3"), "-af",
                                               "ebur128=peak=sample", "-f", "null", "-"});
    ASSERT_EQ(meter.status, 0) << meter.err;
    double loudness = summaryValue(meter.err, "I:");
    double peak = summaryValue(meter.err, "Peak:");
    EXPECT_GE(loudness, -16.0) << meter.err;
    EXPECT_LE(loudness, -12.0) << meter.err;
    EXPECT_LE(peak, -1.0) << "decoded sample peak";
}

}  // namespace
}  // namespace quarvel
