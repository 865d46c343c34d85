// The video sink: the ffmpeg command it builds, its handling of the child process, checked with
// stand-in programs that copy, refuse or ignore the frames, and the colour it hands the real ffmpeg.
#include "capture/video_sink.h"

#include "ffmpeg_check.h"

#include <algorithm>
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
    EXPECT_EQ(valueAfter(args, "-i", 1), "audio.mp3");
    EXPECT_EQ(valueAfter(args, "-map", 1), "1:a:0");
    EXPECT_EQ(valueAfter(args, "-f", 1), "mp4");
    EXPECT_EQ(args.back(), "out/show.mp4.part");

    // the copied MP3 starts a preroll early, at a time before 0 that the file's edit list hides;
    // re-encoded for webm it is trimmed before the encoder instead; never before the track starts
    const struct {
        const char* container;
        double start;
        const char* seek;
        const char* offset;  // "" for none
        const char* length;
        const char* audioCodec;
    } cases[] = {
        {"mp4", 10.5, "10.400000", "-0.100000", "2.100000", "copy"},
        {"mov", 0.05, "0.000000", "-0.050000", "2.050000", "copy"},
        {"matroska", 0, "0.000000", "", "2.000000", "copy"},
        {"webm", 10.5, "10.400000", "", "2.100000", "libopus"},
    };
    for (const auto& c : cases) {
        settings.container = c.container;
        settings.audioStartSeconds = c.start;
        const std::vector<std::string> audio = ffmpegArguments(settings);
        EXPECT_EQ(valueAfter(audio, "-ss"), c.seek) << c.container;
        EXPECT_EQ(valueAfter(audio, "-itsoffset"), c.offset) << c.container;
        EXPECT_EQ(valueAfter(audio, "-t"), c.length) << c.container;
        EXPECT_EQ(valueAfter(audio, "-c:a"), c.audioCodec) << c.container;
    }
    settings.container = "webm";
    EXPECT_EQ(valueAfter(ffmpegArguments(settings), "-af").rfind("atrim=start=0.100000,", 0), 0u);

    settings.audioPath.clear();
    const std::vector<std::string> silent = ffmpegArguments(settings);
    EXPECT_EQ(valueAfter(silent, "-i", 1), "") << "no second input without a soundtrack";
    EXPECT_EQ(std::count(silent.begin(), silent.end(), "-map"), 1);
    EXPECT_EQ(valueAfter(silent, "-c:a"), "");
}

TEST(FfmpegArgumentsTest, EachPresetPicksItsCodecAndOnlyMasterIsRefusedByMp4AndWebm) {
    const struct {
        VideoQuality quality;
        const char* container;
        const char* codec;  // "" where the container cannot hold the preset
    } cases[] = {
        {VideoQuality::share, "mp4", "libx264"},
        {VideoQuality::share, "mov", "libx264"},
        {VideoQuality::share, "matroska", "libx264"},
        {VideoQuality::share, "webm", "libvpx-vp9"},
        {VideoQuality::preview, "mp4", "libx264"},
        {VideoQuality::preview, "webm", "libvpx-vp9"},
        {VideoQuality::master, "matroska", "ffv1"},
        {VideoQuality::master, "mov", "ffv1"},
        {VideoQuality::master, "mp4", ""},
        {VideoQuality::master, "webm", ""},
    };
    for (const auto& c : cases) {
        const Status fits = checkQualityFits(c.quality, c.container);
        EXPECT_EQ(fits.ok, *c.codec != 0) << qualityName(c.quality) << " in " << c.container;
        if (!fits.ok) {
            EXPECT_NE(fits.message.find(".mkv or .mov"), std::string::npos) << fits.message;
            continue;
        }
        VideoSettings settings;
        settings.container = c.container;
        settings.quality = c.quality;
        EXPECT_EQ(valueAfter(ffmpegArguments(settings), "-c:v"), c.codec)
            << qualityName(c.quality) << " in " << c.container;
    }
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
    // the last argument is the file to write
    const std::string copy = program("copy", "for last; do :; done; cat > \"$last\"");
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
        program("fail", "for last; do :; done; echo partial > \"$last\"; cat >/dev/null; exit 3");
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
        program("slow", "for last; do :; done; echo partial > \"$last\"; exec sleep 600");
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

// Flat patches through every YUV preset and back: inside the patches, away from the edges where
// 4:2:0 shares colour between neighbours, each pixel comes back within 3 levels for share and 14
// for preview (VP9 at its crf shifts flat colours by up to 12). A conversion and tags that
// disagree on the matrix (BT.601 against BT.709) miss by about 40 levels, on the range by 20.
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
    test::RgbFrame frame(std::size_t(width) * height * 3);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                frame[(std::size_t(y) * width + x) * 3 + c] =
                    colours[(y / patch) * (width / patch) + x / patch][c];
    const std::vector<test::RgbFrame> frames(3, frame);

    char folder[] = "/tmp/quarvel-video-colour-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const struct {
        VideoQuality quality;
        const char* container;
        const char* extension;
        int bound;
    } cases[] = {
        {VideoQuality::share, "mp4", "mp4", 3},    {VideoQuality::share, "webm", "webm", 3},
        {VideoQuality::share, "mov", "mov", 3},    {VideoQuality::share, "matroska", "mkv", 3},
        {VideoQuality::preview, "mp4", "mp4", 14}, {VideoQuality::preview, "webm", "webm", 14},
    };
    for (const auto& c : cases) {
        const std::string path = std::string(folder) + "/" + qualityName(c.quality) + "." + c.extension;
        ASSERT_TRUE(test::encodeFrames(frames, width, height, 10, c.quality, c.container, path));
        const std::vector<unsigned char> decoded = test::decodeToRgb(path);
        ASSERT_EQ(decoded.size(), frames.size() * frame.size()) << path;
        int largest = 0;
        for (std::size_t i = 0; i < decoded.size(); ++i) {
            const std::size_t pixel = (i % frame.size()) / 3;
            const int32_t x = static_cast<int32_t>(pixel % width) % patch;
            const int32_t y = static_cast<int32_t>(pixel / width) % patch;
            if (x >= 4 && x < patch - 4 && y >= 4 && y < patch - 4)
                largest = std::max(largest, std::abs(int{decoded[i]} - int{frame[i % frame.size()]}));
        }
        EXPECT_LE(largest, c.bound) << path;
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace quarvel
