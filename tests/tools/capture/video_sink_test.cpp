// The video sink: the ffmpeg command it builds, and its handling of the child process, checked
// with stand-in programs that copy, refuse or ignore the frames.
#include "capture/video_sink.h"

#include <algorithm>
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

TEST(FfmpegArgumentsTest, RawFramesOnStdinAndTheSoundtrackCutToTheFramesWritten) {
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
    EXPECT_EQ(valueAfter(args, "-ss"), "10.500000");
    EXPECT_EQ(valueAfter(args, "-t"), "2.000000");
    EXPECT_EQ(valueAfter(args, "-map", 1), "1:a:0");
    EXPECT_EQ(valueAfter(args, "-c:v"), "libx264");
    EXPECT_EQ(valueAfter(args, "-f", 1), "mp4");
    EXPECT_EQ(args.back(), "out/show.mp4.part");

    settings.audioPath.clear();
    settings.container = "webm";
    const std::vector<std::string> silent = ffmpegArguments(settings);
    EXPECT_EQ(valueAfter(silent, "-i", 1), "") << "no second input without a soundtrack";
    EXPECT_EQ(std::count(silent.begin(), silent.end(), "-map"), 1);
    EXPECT_EQ(valueAfter(silent, "-c:v"), "libvpx-vp9");
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

TEST_F(VideoSinkTest, FramesGoDownThePipeTopRowFirstAndTheFileAppearsOnlyWhenComplete) {
    // the last argument is the file to write
    const std::string copy = program("copy", "for last; do :; done; cat > \"$last\"");
    VideoSink sink(settings, output(), nullptr);
    ASSERT_TRUE(sink.start(copy).ok);
    const unsigned char frame[2 * 3 * 4] = {0,  1,  2,  3,  4,  5,  6,  7,  10, 11, 12, 13,
                                            14, 15, 16, 17, 20, 21, 22, 23, 24, 25, 26, 27};
    ASSERT_TRUE(sink.write(0, frame).ok);
    EXPECT_FALSE(exists(output()));
    const Status finished = sink.finish();
    ASSERT_TRUE(finished.ok) << finished.message;
    EXPECT_FALSE(exists(settings.path));

    std::ifstream written(output(), std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(written), {}};
    const std::vector<unsigned char> topDown = {20, 21, 22, 23, 24, 25, 26, 27, 10, 11, 12, 13,
                                                14, 15, 16, 17, 0,  1,  2,  3,  4,  5,  6,  7};
    EXPECT_EQ(bytes, topDown);
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

}  // namespace
}  // namespace quarvel
