// The soundtrack player on the SDL media service, with SDL's dummy or disk audio driver chosen
// here, in the test's environment: which files play, and what reaches the output and when.
#include "audio/soundtrack_files.h"
#include "audio/soundtrack_player.h"
#include "audio/stdout_capture.h"
#include "platform/common/mp3_check.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quarvel {
namespace {

namespace fs = std::filesystem;

using test::readFile;

std::vector<int16_t> samplesOf(const std::vector<char>& bytes) {
    std::vector<int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                          static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
    return samples;
}

std::size_t firstSound(const std::vector<int16_t>& samples, std::size_t from = 0) {
    for (std::size_t i = from; i < samples.size(); ++i)
        if (samples[i] != 0) return i;
    return samples.size();
}

// Each test runs in a fresh working folder, where the player looks for audio.mp3, with the
// dummy audio driver unless it chooses another.
class SdlMediaTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quarvel-media-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        fs::permissions(folder_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
        previous_ = fs::current_path();
        fs::current_path(folder_);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
    }

    void TearDown() override {
        fs::current_path(previous_);
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    // The status lines of one player's life: construction, Run, release.
    static std::string statusOfOnePlayer() {
        test::StdoutCapture capture;
        SoundtrackPlayer player(soundtrackFileName);
        player.run();
        player.release();
        return capture.written();
    }

    fs::path folder_;
    fs::path previous_;
};

TEST_F(SdlMediaTest, PlayableFilesGiveOneSuccessLineEachTimeTheyAreBuilt) {
    struct Case {
        const char* name;
        const char* source;
        int players;
    };
    // a second player gets the output again only if the first one freed it
    const Case cases[] = {
        {"one second, twice", QUARVEL_TEST_MP3, 2},
        {"an hour, decoded whole", QUARVEL_LONG_MP3, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::copy_file(c.source, soundtrackFileName, fs::copy_options::overwrite_existing);
        for (int i = 0; i < c.players; ++i) EXPECT_EQ(statusOfOnePlayer(), test::successLine);
    }
}

TEST_F(SdlMediaTest, EachBadInputGivesOneFailureLineAndLeavesTheOutputFree) {
    const std::vector<char> good = readFile(QUARVEL_TEST_MP3);
    ASSERT_GT(good.size(), 4096u);

    std::vector<test::BadSoundtrack> cases = test::badSoundtracks(good);
    cases.push_back({"no audio output", [] {
                         fs::copy_file(QUARVEL_TEST_MP3, soundtrackFileName);
                         setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
                     }});
    for (const test::BadSoundtrack& c : cases) {
        SCOPED_TRACE(c.name);
        std::error_code ignored;
        fs::remove_all(soundtrackFileName, ignored);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        c.make();
        EXPECT_EQ(statusOfOnePlayer(), test::failureLine);

        setenv("SDL_AUDIODRIVER", "dummy", 1);
        fs::remove_all(soundtrackFileName);
        fs::copy_file(QUARVEL_TEST_MP3, soundtrackFileName);
        EXPECT_EQ(statusOfOnePlayer(), test::successLine) << "the output is free again";
    }
}

// The browser build checks the fetched bytes; it must take and refuse what the file check does.
TEST_F(SdlMediaTest, TheInMemoryCheckAgreesWithTheFileCheck) {
    const std::vector<char> good = readFile(QUARVEL_TEST_MP3);
    std::vector<test::BadSoundtrack> cases = test::badSoundtracks(good);
    cases.push_back({"the good file", [] { fs::copy_file(QUARVEL_TEST_MP3, soundtrackFileName); }});
    for (const test::BadSoundtrack& c : cases) {
        SCOPED_TRACE(c.name);
        std::error_code ignored;
        fs::remove_all(soundtrackFileName, ignored);
        c.make();
        if (!fs::is_regular_file(soundtrackFileName)) continue;  // nothing to fetch
        const std::vector<char> bytes = readFile(soundtrackFileName);
        const bool whole =
            platform::isCompleteMp3(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        EXPECT_EQ(whole, platform::isCompleteMp3(soundtrackFileName));
        EXPECT_EQ(whole, std::string(c.name) == "the good file");
    }
}

TEST_F(SdlMediaTest, UnreadableFileGivesOneFailureLine) {
    fs::copy_file(QUARVEL_TEST_MP3, soundtrackFileName);
    fs::permissions(soundtrackFileName, fs::perms::none);
    if (geteuid() != 0) {
        EXPECT_EQ(statusOfOnePlayer(), test::failureLine);
        return;
    }

    // root reads any file, so the player runs in a child that has given up root for "nobody"
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    std::fflush(stdout);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeEnds[0]);
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        if (std::ifstream(soundtrackFileName).is_open()) _exit(3);
        dup2(pipeEnds[1], STDOUT_FILENO);
        {
            SoundtrackPlayer player(soundtrackFileName);
            player.run();
        }
        _exit(0);
    }
    close(pipeEnds[1]);
    std::string output;
    char buffer[256];
    for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, static_cast<std::size_t>(n));
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "running as root, and root could not become nobody";
    ASSERT_NE(WEXITSTATUS(status), 3) << "nobody can still read the file";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(output, test::failureLine);
}

TEST_F(SdlMediaTest, DiskOutputIsSilentUntilRunThenStartsAtTheBeginningOfTheFileAndEndsOnRelease) {
    const fs::path written = folder_ / "output.s16";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", written.c_str(), 1);
    fs::copy_file(QUARVEL_TEST_MP3, soundtrackFileName);
    const std::vector<int16_t> reference = samplesOf(readFile(QUARVEL_TEST_PCM));
    const std::size_t referenceStart = firstSound(reference);
    const std::size_t compared = 44100;  // half a second, both channels
    ASSERT_GT(reference.size(), referenceStart + compared);

    std::string status;
    std::optional<SoundtrackPlayer> player;
    {
        test::StdoutCapture capture;
        player.emplace(soundtrackFileName);
        status = capture.written();
    }
    ASSERT_EQ(status, test::successLine);
    // what the output writes before Run, a few buffers of it, must be silence
    const auto writtenBytes = [&] { return fs::exists(written) ? fs::file_size(written) : 0; };
    for (int tries = 0; tries < 500 && writtenBytes() < 3 * 4096; ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::vector<int16_t> beforeRun = samplesOf(readFile(written));
    ASSERT_GE(beforeRun.size() * sizeof(int16_t), 3u * 4096) << "the output did not run before Run";
    EXPECT_EQ(firstSound(beforeRun), beforeRun.size()) << "sound was written before Run";

    player->run();
    std::vector<int16_t> output;
    std::size_t start = 0;
    for (int tries = 0; tries < 1000; ++tries) {
        output = samplesOf(readFile(written));
        start = firstSound(output, beforeRun.size());
        if (start < output.size() && output.size() - start >= compared + 2048) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_LT(start, output.size()) << "nothing was heard after Run";
    ASSERT_GE(output.size() - start, compared);
    ASSERT_EQ(start % 2, referenceStart % 2) << "the channels are swapped";
    // the decoders round differently by a step or two; a wrong start is off by thousands
    int worst = 0;
    for (std::size_t i = 0; i < compared; ++i)
        worst = std::max(worst, std::abs(output[start + i] - reference[referenceStart + i]));
    EXPECT_LE(worst, 4) << "the first samples after Run are not the start of the file";

    // a released output has closed its file: nothing can write to it any more
    player->release();
    bool open = false;
    for (const fs::directory_entry& fd : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        open = open || fs::read_symlink(fd.path(), error) == written;
    }
    EXPECT_FALSE(open) << "the output still holds its file after release";
    unsetenv("SDL_DISKAUDIOFILE");
}

}  // namespace
}  // namespace quarvel
