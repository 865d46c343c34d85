// The soundtrack player on the DirectShow media service (under Wine in CI, which decodes through
// GStreamer and plays into ALSA's null device): which files play, and the status lines they give.
#include "audio/soundtrack_files.h"
#include "audio/soundtrack_player.h"
#include "audio/stdout_capture.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <windows.h>

namespace quarvel {
namespace {

namespace fs = std::filesystem;

using test::readFile;

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

    // DirectShow would render some of these and play them as far as they go
    const std::vector<test::BadSoundtrack> cases = test::badSoundtracks(good);
    for (const test::BadSoundtrack& c : cases) {
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
    if (std::getenv("QUARVEL_NO_AUDIO_OUTPUT") == nullptr)
        GTEST_SKIP() << "only where no audio output is set up";
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
