// The capture's command line and the frames it plans: sizes, rates, windows, clock lists, outputs.
#include "capture/capture_options.h"

#include "base/show_timeline.h"
#include "capture/frame_plan.h"

#include <gtest/gtest.h>
#include <sstream>

namespace quarvel {
namespace {

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> args;
    std::istringstream words(line);
    for (std::string word; words >> word;) args.push_back(word);
    return args;
}

TEST(CaptureOptionsTest, GoodCommandLines) {
    const struct {
        const char* line;
        int32_t width, height, fps;
        OutputKind kind;
        const char* container;
        VideoQuality quality = VideoQuality::share;
    } cases[] = {
        {"show.mp4", 1920, 1080, 60, OutputKind::video, "mp4"},
        {"--size 640x360 --fps 30 out/show.MKV", 640, 360, 30, OutputKind::video, "matroska"},
        {"--size=1000x1000 --fps=240 a.webm", 1000, 1000, 240, OutputKind::video, "webm"},
        {"--fps 1 --size 2x2 x.mov", 2, 2, 1, OutputKind::video, "mov"},
        {"--quality master show.mkv", 1920, 1080, 60, OutputKind::video, "matroska", VideoQuality::master},
        {"--quality=master show.mov", 1920, 1080, 60, OutputKind::video, "mov", VideoQuality::master},
        {"--quality preview --quality share a.webm", 1920, 1080, 60, OutputKind::video, "webm"},
        {"--quality preview a.mp4", 1920, 1080, 60, OutputKind::video, "mp4", VideoQuality::preview},
        {"--size 641x361 frames/%05d.png", 641, 361, 60, OutputKind::framePattern, ""},
        {"--from 30.5 --to 40 still.png", 1920, 1080, 60, OutputKind::singleImage, ""},
        {"--size 1x1 100%%.png", 1, 1, 60, OutputKind::singleImage, ""},
    };
    for (const auto& c : cases) {
        const ParsedCommandLine parsed = parseCaptureOptions(split(c.line));
        ASSERT_TRUE(parsed.status.ok) << c.line << ": " << parsed.status.message;
        EXPECT_EQ(parsed.options.width, c.width) << c.line;
        EXPECT_EQ(parsed.options.height, c.height) << c.line;
        EXPECT_EQ(parsed.options.fps, c.fps) << c.line;
        EXPECT_EQ(parsed.options.outputKind, c.kind) << c.line;
        EXPECT_EQ(parsed.options.container, c.container) << c.line;
        EXPECT_EQ(parsed.options.quality, c.quality) << c.line;
    }

    const ParsedCommandLine window = parseCaptureOptions(split("--from -0.05 --to 30.5 f%d.png"));
    ASSERT_TRUE(window.status.ok);
    EXPECT_EQ(window.options.fromMs, -50);
    EXPECT_EQ(window.options.toMs, 30'500);
    const ParsedCommandLine clocks = parseCaptureOptions(split("--clock -50,0,86000 f%d.png"));
    ASSERT_TRUE(clocks.status.ok);
    EXPECT_EQ(clocks.options.clocks, (std::vector<int32_t>{-50, 0, 86'000}));
    EXPECT_TRUE(parseCaptureOptions(split("--size 1x1 --help")).help);
    EXPECT_TRUE(parseCaptureOptions(split("--version show.mp4")).version);
    EXPECT_TRUE(parseCaptureOptions(split("--list-devices")).listDevices);
    const ParsedCommandLine av1 = parseCaptureOptions(split("--codec av1 --device 1 show.mp4"));
    ASSERT_TRUE(av1.status.ok) << av1.status.message;
    EXPECT_EQ(av1.options.codec, VideoCodec::av1);
    EXPECT_EQ(av1.options.device, "1");
}

TEST(CaptureOptionsTest, BadCommandLinesSayWhatIsWrong) {
    const struct {
        const char* line;
        const char* message;
    } cases[] = {
        {"", "no OUTPUT"},
        {"--size 640x360", "no OUTPUT"},
        {"show.mp4 --fps 30", "OUTPUT must be the last"},
        {"--frames 10 show.mp4", "unknown option --frames"},
        {"--audio a.mp3 f%d.png", "--audio gives a video its sound"},
        {"-q show.mp4", "unknown option -q"},
        {"-qx show.mp4", "unknown option -q"},
        {"--size show.mp4", "--size takes WIDTHxHEIGHT"},
        {"--size 0x360 a.png", "at least 1 pixel"},
        {"--size -640x360 a.png", "--size takes WIDTHxHEIGHT"},
        {"--size 640x a.png", "--size takes WIDTHxHEIGHT"},
        {"--size 640*360 a.png", "--size takes WIDTHxHEIGHT"},
        {"--size 99999999999x2 a.png", "too large"},
        {"--fps 0 a.png", "from 1 to 240"},
        {"--fps 241 a.png", "from 1 to 240"},
        {"--fps 29.97 a.png", "from 1 to 240"},
        {"--fps", "--fps needs a value"},
        {"--size 1x1 --clock", "--clock needs a value"},
        {"--frames=3 a.png", "unknown option --frames"},
        {"--version=2 a.png", "unknown option --version"},
        {"--from ten a.png", "--from takes seconds"},
        {"--to nan a.png", "--to takes seconds"},
        {"--from 20 --to 10 a.png", "--from is later than --to"},
        {"--clock 1,,2 a.png", "--clock takes"},
        {"--clock 1,2, a.png", "--clock takes"},
        {"--clock 99999999999 a.png", "--clock takes"},
        {"--clock 0 --fps 30 a.png", "does not combine"},
        {"--clock 0,1 show.mp4", "images only"},
        {"--size 641x360 show.mp4", "even width and height"},
        {"show.avi", "OUTPUT must end in .png"},
        {"frames/%05d.jpg", "OUTPUT must end in .png"},
        {"frames/%s.png", "the only conversion"},
        {"%d-%d.png", "one frame number"},
        {"f%d/%d.png", "not in the folder"},
        {"v%d.mp4", "a video name has no %"},
        {"out/", "names a folder"},
        {"--quality best show.mp4", "--quality takes one of share, high, master, preview; not 'best'"},
        {"--quality SHARE show.mp4", "--quality takes one of"},
        {"--quality show.mp4", "--quality takes one of"},
        {"--quality master show.mp4", "only a .mkv or .mov"},
        {"--quality master show.webm", "only a .mkv or .mov"},
        {"--quality share f%d.png", "PNG frames are always lossless"},
        {"--codec vp9 show.mkv", "--codec takes h264 or av1; not 'vp9'"},
        {"--codec h264 show.webm", "holds VP9 or AV1, not H.264"},
        {"--codec av1 show.mov", "--codec av1 writes .mp4, .mkv or .webm"},
        {"--codec av1 --size 640x48 show.mkv", "at least 64x64"},
        {"--codec av1 --quality high show.mkv", "--codec chooses share's codec"},
        {"--codec av1 f%d.png", "PNG frames are always lossless"},
    };
    for (const auto& c : cases) {
        const ParsedCommandLine parsed = parseCaptureOptions(split(c.line));
        EXPECT_FALSE(parsed.status.ok) << c.line;
        EXPECT_NE(parsed.status.message.find(c.message), std::string::npos)
            << c.line << " gave: " << parsed.status.message;
    }
}

TEST(CaptureOptionsTest, FrameNamesFollowThePattern) {
    const struct {
        const char* output;
        int32_t frame;
        const char* name;
    } cases[] = {
        {"frames/%05d.png", 42, "frames/00042.png"},
        {"frames/%05d.png", 1234567, "frames/1234567.png"},
        {"f%d.png", 0, "f0.png"},
        {"f%3d.png", 7, "f  7.png"},
        {"100%%-%02d.png", 5, "100%-05.png"},
        {"still.png", 99, "still.png"},
    };
    for (const auto& c : cases) {
        const ParsedCommandLine parsed = parseCaptureOptions({c.output});
        ASSERT_TRUE(parsed.status.ok) << c.output << ": " << parsed.status.message;
        std::string name;
        frameFileName(parsed.options.pattern, c.frame, name);
        EXPECT_EQ(name, c.name);
    }
}

TEST(FramePlanTest, FrameKShowsTheRoundedClockMinusTheLag) {
    const struct {
        int32_t frame, fps, clock;
    } cases[] = {
        {0, 60, -50},       {1, 60, -33},       {2, 60, -17},    {3, 60, 0},
        {5163, 60, 86'000}, {1, 16, 13},  // 62.5 rounds up
        {1, 240, -46},                    // 4.17
        {2581, 30, 85'983}, {2582, 30, 86'017}, {86, 1, 85'950}, {87, 1, 86'950},
    };
    for (const auto& c : cases)
        EXPECT_EQ(captureClock(c.frame, c.fps), c.clock) << c.frame << " at " << c.fps;
}

TEST(FramePlanTest, AWholeCaptureEndsAtTheFirstFrameAtOrPastTheRunLength) {
    for (int32_t fps : {1, 7, 24, 30, 60, 144, 240}) {
        CaptureOptions options;
        options.fps = fps;
        const FramePlanResult result = makeFramePlan(options);
        ASSERT_TRUE(result.status.ok);
        const std::vector<int32_t>& clocks = result.plan.clocks;
        ASSERT_GE(clocks.size(), 2u);
        EXPECT_EQ(clocks.front(), -50);
        EXPECT_GE(clocks.back(), runLengthMs) << fps;
        EXPECT_LT(clocks[clocks.size() - 2], runLengthMs) << fps;
        for (std::size_t n = 0; n < clocks.size(); ++n)
            ASSERT_EQ(clocks[n], captureClock(static_cast<int32_t>(n), fps));
        EXPECT_EQ(result.plan.firstWritten, 0);
    }
}

TEST(FramePlanTest, WindowsClockListsAndSingleImages) {
    const struct {
        const char* line;
        std::size_t frames;
        int32_t firstWritten;
        int32_t lastClock;
    } cases[] = {
        {"--fps 60 --to 0 f%d.png", 4, 0, 0},
        {"--fps 60 --from 0.001 --to 0.05 f%d.png", 7, 4, 50},
        {"--fps 10 --from 85.95 f%d.png", 862, 860, 86'050},
        {"--fps 60 --to 0.1 still.png", 10, 9, 100},
        {"--fps 60 --to 1000 still.png", 5164, 5163, 86'000},
        {"--clock 500,-50,500 f%d.png", 3, 0, 500},
        {"--clock 1,2,3 still.png", 3, 2, 3},
    };
    for (const auto& c : cases) {
        const ParsedCommandLine parsed = parseCaptureOptions(split(c.line));
        ASSERT_TRUE(parsed.status.ok) << c.line;
        const FramePlanResult result = makeFramePlan(parsed.options);
        ASSERT_TRUE(result.status.ok) << c.line << ": " << result.status.message;
        EXPECT_EQ(result.plan.clocks.size(), c.frames) << c.line;
        EXPECT_EQ(result.plan.firstWritten, c.firstWritten) << c.line;
        EXPECT_EQ(result.plan.clocks.back(), c.lastClock) << c.line;
    }

    for (const char* line :
         {"--to -0.06 f%d.png", "--from 86.1 f%d.png", "--from 0.02 --to 0.03 still.png"}) {
        const ParsedCommandLine parsed = parseCaptureOptions(split(line));
        ASSERT_TRUE(parsed.status.ok) << line;
        const FramePlanResult result = makeFramePlan(parsed.options);
        EXPECT_FALSE(result.status.ok) << line;
        EXPECT_FALSE(result.status.message.empty());
    }
}

}  // namespace
}  // namespace quarvel
