// The soundtrack player on the DirectShow media service (under Wine in CI, which decodes through
// GStreamer and plays into ALSA's null device): which files play, and the status lines they give.
#include "audio/soundtrack_player.h"
#include "stdout_capture.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace quarvel {
namespace {

namespace fs = std::filesystem;

std::vector<char> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::vector<char>& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The status lines of one player's life: construction, Run, release.
std::string statusOfOnePlayer() {
    test::StdoutCapture capture;
    SoundtrackPlayer player(soundtrackFileName);
    player.run();
    player.release();
    return capture.written();
}

// Each test runs in a fresh working folder, where the player looks for audio.mp3.
class Win32MediaTest : public testing::Test {
protected:
    void SetUp() override {
        // the build names the file relative to the folder the test starts in
        sweep_ = fs::absolute(QUARVEL_TEST_MP3);
        previous_ = fs::current_path();
        folder_ = fs::temp_directory_path() / ("quarvel-media-" + std::to_string(GetCurrentProcessId()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        fs::current_path(folder_);
    }

    void TearDown() override {
        fs::current_path(previous_);
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    fs::path sweep_;
    fs::path folder_;
    fs::path previous_;
};

TEST_F(Win32MediaTest, PlayableFileGivesOneSuccessLineEachTimeItIsBuilt) {
    fs::copy_file(sweep_, soundtrackFileName);
    EXPECT_EQ(statusOfOnePlayer(), test::successLine);
    EXPECT_EQ(statusOfOnePlayer(), test::successLine) << "a second graph in the same process";
}

TEST_F(Win32MediaTest, EachBadInputGivesOneFailureLine) {
    const std::vector<char> good = readFile(sweep_);
    ASSERT_GT(good.size(), 4096u);

    // the sweep is 64 kbit/s at 44.1 kHz: its last frame is 208 or 209 bytes long
    std::size_t lastFrame = good.size() - 208;
    if (static_cast<uint8_t>(good[lastFrame]) != 0xFF) lastFrame = good.size() - 209;
    ASSERT_EQ(static_cast<uint8_t>(good[lastFrame]), 0xFF);

    struct Case {
        const char* name;
        std::function<void()> make;
    };
    const Case cases[] = {
        {"missing", [] {}},
        {"empty", [] { writeFile(soundtrackFileName, {}); }},
        {"random bytes",
         [] {
             std::mt19937 random(4);
             std::vector<char> bytes(64 * 1024);
             for (char& b : bytes) b = static_cast<char>(random());
             writeFile(soundtrackFileName, bytes);
         }},
        // DirectShow would render these and play them as far as they go
        {"cut inside a frame",
         [&] { writeFile(soundtrackFileName, std::vector<char>(good.begin(), good.begin() + good.size() * 3 / 5)); }},
        {"cut at a frame boundary: one frame fewer than the encoder's tag counts",
         [&] { writeFile(soundtrackFileName, std::vector<char>(good.begin(), good.begin() + lastFrame)); }},
        {"a directory", [] { fs::create_directory(soundtrackFileName); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::error_code ignored;
        fs::remove_all(soundtrackFileName, ignored);
        c.make();
        EXPECT_EQ(statusOfOnePlayer(), test::failureLine);
    }
}

// Run by itself, with an ALSA configuration that has no device: DirectShow then builds the graph
// without its audio renderer and calls that a partial success.
TEST(Win32MediaNoOutputTest, PlayableFileWithoutAnAudioOutputGivesTheFailureLine) {
    if (std::getenv("QUARVEL_NO_AUDIO_OUTPUT") == nullptr) GTEST_SKIP() << "only where no audio output is set up";
    const fs::path sweep = fs::absolute(QUARVEL_TEST_MP3);
    const fs::path folder = fs::temp_directory_path() / "quarvel-media-no-output";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    fs::copy_file(sweep, soundtrackFileName);
    EXPECT_EQ(statusOfOnePlayer(), test::failureLine);
    fs::current_path(previous);
    fs::remove_all(folder);
}

}  // namespace
}  // namespace quarvel
