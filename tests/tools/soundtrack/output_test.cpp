// Tests of the outputs: files appear only when complete, the WAV layout, and the MP3 stream's form.
#include "soundtrack/mp3_encoder.h"
#include "soundtrack/output_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <unistd.h>

namespace quarvel {
namespace {

namespace fs = std::filesystem;

class OutputFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("quarvel-output-test-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::vector<fs::path> entries() const {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            found.push_back(entry.path().filename());
        }
        return found;
    }

    fs::path dir_;
};

std::vector<unsigned char> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(OutputFileTest, CommittedFileHoldsTheBytesAndNothingElseRemains) {
    const std::vector<unsigned char> bytes{1, 2, 3, 250};
    {
        PendingFile file;
        Status opened = file.open((dir_ / "out.mp3").string());
        ASSERT_TRUE(opened.ok) << opened.message;
        Status committed = file.commit(bytes);
        EXPECT_TRUE(committed.ok) << committed.message;
    }
    EXPECT_EQ(readAll(dir_ / "out.mp3"), bytes);
    EXPECT_EQ(entries(), std::vector<fs::path>{"out.mp3"});
}

TEST_F(OutputFileTest, AbandonedFileLeavesNothingAndKeepsAnOlderFile) {
    std::ofstream(dir_ / "out.mp3") << "old";
    {
        PendingFile file;
        Status opened = file.open((dir_ / "out.mp3").string());
        ASSERT_TRUE(opened.ok) << opened.message;
    }
    EXPECT_EQ(entries(), std::vector<fs::path>{"out.mp3"});
    EXPECT_EQ(readAll(dir_ / "out.mp3"), (std::vector<unsigned char>{'o', 'l', 'd'}));
}

TEST_F(OutputFileTest, UnwritableDestinationsFailAtOpenWithTheReason) {
    struct Case {
        fs::path path;
        const char* reason;
    };
    fs::create_directories(dir_ / "folder");
    const Case cases[] = {
        {dir_ / "missing" / "out.mp3", "No such file or directory"},
        {dir_ / "folder", "is a directory"},
    };
    for (const Case& c : cases) {
        PendingFile file;
        Status opened = file.open(c.path.string());
        EXPECT_FALSE(opened.ok) << c.path;
        EXPECT_NE(opened.message.find(c.path.string()), std::string::npos) << opened.message;
        EXPECT_NE(opened.message.find(c.reason), std::string::npos) << opened.message;
    }
    EXPECT_EQ(entries(), std::vector<fs::path>{"folder"});
}

uint32_t u32At(const std::vector<unsigned char>& bytes, size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

TEST(Wav, HeaderDescribesStereoFloatAndSamplesFollowExactly) {
    StereoBuffer buffer = makeStereoBuffer(3);
    buffer.left = {0.5f, -1.0f, 0.25f};
    buffer.right = {0.0f, 1.0f, -0.125f};
    std::vector<unsigned char> wav = encodeWav(buffer);
    ASSERT_EQ(wav.size(), 58u + 3 * 8);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(u32At(wav, 4), wav.size() - 8);
    EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(wav[20], 3);  // IEEE float
    EXPECT_EQ(wav[22], 2);  // channels
    EXPECT_EQ(u32At(wav, 24), 44100u);
    EXPECT_EQ(wav[34], 32);  // bits
    EXPECT_EQ(std::string(wav.begin() + 38, wav.begin() + 42), "fact");
    EXPECT_EQ(u32At(wav, 46), 3u);
    EXPECT_EQ(std::string(wav.begin() + 50, wav.begin() + 54), "data");
    EXPECT_EQ(u32At(wav, 54), 24u);
    float second[2];
    std::memcpy(second, wav.data() + 58 + 8, sizeof(second));
    EXPECT_EQ(second[0], -1.0f);
    EXPECT_EQ(second[1], 1.0f);
}

TEST(Mp3, StreamIsTaglessMpeg1Layer3AtTheChosenRate) {
    StereoBuffer buffer = makeStereoBuffer(2 * sampleRate);
    for (size_t i = 0; i < buffer.frames(); ++i) {
        buffer.left[i] = static_cast<float>(0.3 * std::sin(0.0625 * i));
        buffer.right[i] = static_cast<float>(0.3 * std::sin(0.05 * i));
    }
    std::vector<unsigned char> b;
    Status encoded = encodeMp3(buffer, b);
    ASSERT_TRUE(encoded.ok) << encoded.message;
    ASSERT_GT(b.size(), 1000u);
    // frame sync, MPEG-1 layer III without CRC, 256 kbit/s (index 13), 44.1 kHz (index 0)
    EXPECT_EQ(b[0], 0xff);
    EXPECT_EQ(b[1], 0xfb);
    EXPECT_EQ(b[2] >> 4, 13);
    EXPECT_EQ((b[2] >> 2) & 3, 0);
    // the first frame carries the Info header that gives the exact length; no ID3 tag at either end
    auto infoAt = std::search(b.begin(), b.begin() + 200, std::begin("Info"), std::end("Info") - 1);
    EXPECT_NE(infoAt, b.begin() + 200);
    EXPECT_NE(std::string(b.begin(), b.begin() + 3), "ID3");
    EXPECT_NE(std::string(b.end() - 128, b.end() - 125), "TAG");
    // constant bitrate: 2 s of audio is close to 2 s of 256 kbit/s
    EXPECT_NEAR(static_cast<double>(b.size()), 2.0 * 256000 / 8, 3000.0);
}

}  // namespace
}  // namespace quarvel
