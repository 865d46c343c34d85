// The video sink: the ffmpeg command it builds, its handling of the child process, checked with
// stand-in programs that copy, refuse or ignore the frames, and the colour it hands the real ffmpeg.
#include "capture/video_sink.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quarvel {
namespace {

bool exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

std::string valueAfter(const std::vector<std::string>& args, const std::string& flag, int occurrence = 0) {
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == flag && occurrence-- == 0) return args[i + 1];
    return "";
}

TEST(FfmpegArgumentsTest, RawFramesOnStdinAndTheSoundtrackFromJustBeforeTheFramesWritten) {
    VideoSettings settings;
    settings.width = 640;
    settings.height = 360;
    settings.fps = 30;
    settings.container = "mp4";
    settings.path = "out/show.mp4.part";
    settings.audioPath = "audio.mp3";
    settings.audioStartSeconds = 10.5;
    settings.durationSeconds = 2.0;
    const std::vector<std::string> args = ffmpegArguments(settings);
    EXPECT_EQ(valueAfter(args, "-f"), "rawvideo");
    EXPECT_EQ(valueAfter(args, "-pixel_format"), "rgba");
    EXPECT_EQ(valueAfter(args, "-video_size"), "640x360");
    EXPECT_EQ(valueAfter(args, "-framerate"), "30");
    EXPECT_EQ(valueAfter(args, "-i"), "pipe:0");
    EXPECT_EQ(valueAfter(args, "-i", 1), "file:audio.mp3");
    // the copied MP3 starts a preroll early, at times before 0 that the muxer hides
    EXPECT_EQ(valueAfter(args, "-ss"), "10.400000");
    EXPECT_EQ(valueAfter(args, "-itsoffset"), "-0.100000");
    EXPECT_EQ(valueAfter(args, "-t"), "2.100000");
    EXPECT_EQ(valueAfter(args, "-c:a"), "copy");
    EXPECT_EQ(valueAfter(args, "-map", 1), "1:a:0");
    EXPECT_EQ(valueAfter(args, "-c:v"), "libx264");
    EXPECT_EQ(valueAfter(args, "-f", 1), "mp4");
    EXPECT_EQ(args.back(), "file:out/show.mp4.part");

    settings.audioPath.clear();
    settings.container = "webm";
    const std::vector<std::string> silent = ffmpegArguments(settings);
    EXPECT_EQ(valueAfter(silent, "-i", 1), "") << "no second input without a soundtrack";
    EXPECT_EQ(std::count(silent.begin(), silent.end(), "-map"), 1);
    EXPECT_EQ(valueAfter(silent, "-c:v"), "libsvtav1");
}

class VideoSinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quarvel-video-sink-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        settings.width = 2;
        settings.height = 3;
        settings.container = "mp4";
        settings.path = folder + "/v.mp4.part";
    }
    void TearDown() override {
        std::remove(output().c_str());
        for (const char* name : {"/copy", "/fail", "/slow"}) std::remove((folder + name).c_str());
        rmdir(folder.c_str());
    }

    std::string output() const { return folder + "/v.mp4"; }

    // a stand-in for ffmpeg: a shell script that gets the same arguments
    std::string program(const char* name, const char* body) {
        const std::string path = folder + "/" + name;
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        chmod(path.c_str(), 0755);
        return path;
    }

    std::string folder;
    VideoSettings settings;
};

// the frames go as the GL reads them, bottom row first; ffmpeg turns them (see VideoSinkColourTest)
TEST_F(VideoSinkTest, FramesGoDownThePipeWholeAndInOrderAndTheFileAppearsOnlyWhenComplete) {
    // the last argument is the file to write, as "file:PATH"
    const std::string copy = program("copy", "for last; do :; done; cat > \"${last#file:}\"");
    VideoSink sink(settings, output(), nullptr);
    ASSERT_TRUE(sink.start(copy).ok);
    std::vector<unsigned char> frames(2 * 2 * 3 * 4);
    for (std::size_t i = 0; i < frames.size(); ++i) frames[i] = static_cast<unsigned char>(i);
    ASSERT_TRUE(sink.write(0, frames.data()).ok);
    ASSERT_TRUE(sink.write(1, frames.data() + frames.size() / 2).ok);
    EXPECT_FALSE(exists(output()));
    const Status finished = sink.finish();
    ASSERT_TRUE(finished.ok) << finished.message;
    EXPECT_FALSE(exists(settings.path));

    std::ifstream written(output(), std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(written), {}};
    EXPECT_EQ(bytes, frames);
}

TEST_F(VideoSinkTest, AFailedOrAbandonedEncodeLeavesNoFileBehind) {
    const std::string fail =
        program("fail", "for last; do :; done; echo partial > \"${last#file:}\"; cat >/dev/null; exit 3");
    const unsigned char frame[2 * 3 * 4] = {};
    {
        VideoSink sink(settings, output(), nullptr);
        ASSERT_TRUE(sink.start(fail).ok);
        ASSERT_TRUE(sink.write(0, frame).ok);
        const Status finished = sink.finish();
        EXPECT_FALSE(finished.ok);
        EXPECT_NE(finished.message.find("exit status 3"), std::string::npos) << finished.message;
    }
    EXPECT_FALSE(exists(output()));
    EXPECT_FALSE(exists(settings.path));

    // an encoder that never finishes on its own is killed
    const std::string slow =
        program("slow", "for last; do :; done; echo partial > \"${last#file:}\"; exec sleep 600");
    {
        VideoSink sink(settings, output(), nullptr);
        ASSERT_TRUE(sink.start(slow).ok);
        for (int i = 0; i < 10'000 && !exists(settings.path); ++i) usleep(1000);
        sink.abandon();
    }
    EXPECT_FALSE(exists(settings.path));
    EXPECT_FALSE(exists(output()));

    VideoSink missing(settings, output(), nullptr);
    EXPECT_FALSE(missing.start(folder + "/no-such-ffmpeg").ok);
}

std::string commandOutput(const std::string& command) {
    std::string output;
    std::FILE* pipe = popen(command.c_str(), "r");
    char buffer[1 << 16];
    for (std::size_t n; pipe != nullptr && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    if (pipe != nullptr) pclose(pipe);
    return output;
}

// Flat patches through every YUV preset and the real ffmpeg, decoded back with the matrix and range
// the file declares: inside the patches, away from the edges where 4:2:0 shares colour between
// neighbours, each pixel comes back within 3 levels for high, 4 for share at its bitrate, and 14
// for preview (VP9 at its crf shifts flat colour by up to 12). A conversion and tags that disagree
// on the matrix (BT.601 against BT.709) miss by about 40 levels, on the range by 20.
TEST(VideoSinkColourTest, YuvPresetsConvertAndTagTheSameMatrixAndRange) {
    // patches of whole 64-pixel blocks, so that no block of either codec straddles two colours
    constexpr int32_t patch = 64;
    constexpr int32_t width = 8 * patch;
    constexpr int32_t height = 2 * patch;
    const unsigned char colours[16][3] = {
        {255, 0, 0},     {0, 255, 0},   {0, 0, 255},     {0, 255, 255},   {255, 0, 255}, {255, 255, 0},
        {255, 255, 255}, {0, 0, 0},     {128, 128, 128}, {224, 172, 105}, {128, 0, 0},   {150, 200, 255},
        {255, 140, 0},   {90, 30, 140}, {20, 60, 20},    {200, 230, 120},
    };
    const auto colourAt = [&](int32_t x, int32_t y) { return colours[(y / patch) * 8 + x / patch]; };
    std::vector<unsigned char> bottomUp(std::size_t(width) * height * 4, 255);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            std::copy_n(colourAt(x, y), 3, &bottomUp[(std::size_t(height - 1 - y) * width + x) * 4]);

    char folder[] = "/tmp/quarvel-video-colour-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const struct {
        VideoQuality quality;
        const char* container;
        const char* extension;
        int bound;
    } cases[] = {
        // AV1 at its fifth of the bits: 5 levels; the BT.601 matrix where BT.709 is declared, 20 and more
        {VideoQuality::share, "mp4", "mp4", 4},    {VideoQuality::share, "webm", "webm", 6},
        {VideoQuality::share, "mov", "mov", 4},    {VideoQuality::share, "matroska", "mkv", 4},
        {VideoQuality::high, "mp4", "mp4", 3},     {VideoQuality::high, "webm", "webm", 3},
        {VideoQuality::preview, "mp4", "mp4", 14}, {VideoQuality::preview, "webm", "webm", 14},
    };
    for (const auto& c : cases) {
        VideoSettings settings{width, height, 10, c.container, "", "", 0, 0.3, c.quality};
        const std::string path = std::string(folder) + "/" + qualityName(c.quality) + "." + c.extension;
        settings.path = path + ".part";
        VideoSink sink(settings, path, nullptr);
        ASSERT_TRUE(sink.start("ffmpeg").ok);
        for (int32_t frame = 0; frame < 3; ++frame) ASSERT_TRUE(sink.write(frame, bottomUp.data()).ok);
        ASSERT_TRUE(sink.finish().ok) << path;

        const std::string probe = "ffprobe -v error -select_streams v -of csv=p=0 -show_entries stream=";
        std::string matrix = commandOutput(probe + "color_space " + path);
        std::string range = commandOutput(probe + "color_range " + path);
        matrix.pop_back();
        range.pop_back();
        const std::string decoded = commandOutput(
            // AV1's grain is drawn by the player: left out, the colours are the encoder's
            "ffmpeg -v error -export_side_data film_grain -i " + path + " -vf scale=in_color_matrix=" +
            matrix + ":in_range=" + range + ":flags=accurate_rnd+full_chroma_int,format=rgb24 -f rawvideo -");
        ASSERT_EQ(decoded.size(), 3u * width * height * 3) << path;
        int largest = 0;
        for (std::size_t i = 0; i < decoded.size(); ++i) {
            const auto x = static_cast<int32_t>(i / 3 % width);
            const auto y = static_cast<int32_t>(i / 3 / width % height);
            if (x % patch >= 4 && x % patch < patch - 4 && y % patch >= 4 && y % patch < patch - 4)
                largest = std::max(largest, std::abs(int{static_cast<unsigned char>(decoded[i])} -
                                                     int{colourAt(x, y)[i % 3]}));
        }
        EXPECT_LE(largest, c.bound) << path;
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace quarvel
