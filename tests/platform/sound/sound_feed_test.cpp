// The feed that every sound output plays from: what it gives before and after a start, and how it
// keeps the file in place when the output's reports say it has strayed.
#include "platform/sound/sound_feed.h"

#include <gtest/gtest.h>
#include <numeric>

namespace quarvel::platform {
namespace {

using namespace std::chrono_literals;

constexpr int rate = 1000;  // a frame a millisecond keeps the arithmetic readable
constexpr std::size_t buffer = 10;

// A file whose frame n holds n + 1 in both channels, so that what is played says where it is from.
std::vector<int16_t> numberedFile(int frames) {
    std::vector<int16_t> samples(static_cast<std::size_t>(frames) * 2);
    for (int n = 0; n < frames; ++n) samples[2 * n] = samples[2 * n + 1] = static_cast<int16_t>(n + 1);
    return samples;
}

// The file frame of each frame played, -1 for silence.
std::vector<int> play(SoundFeed& feed, std::optional<SoundClock::time_point> heardAt,
                      std::size_t frames = buffer) {
    std::vector<int16_t> out(frames * 2, 7);
    feed.fill(out.data(), frames, heardAt);
    std::vector<int> played(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        EXPECT_EQ(out[2 * i], out[2 * i + 1]);
        played[i] = out[2 * i] - 1;
    }
    return played;
}

std::vector<int> frames(int from, int count) {
    std::vector<int> result(static_cast<std::size_t>(count));
    std::iota(result.begin(), result.end(), from);
    return result;
}

// A started feed whose frame 0 is heard at `origin`.
struct StartedFeed {
    SoundFeed feed{numberedFile(1000), rate};
    SoundClock::time_point origin;

    StartedFeed() {
        // the lead-in lasts 256 ms at this rate: the first frame of the file is heard soon after now
        const auto first = SoundClock::now() - 200ms;
        EXPECT_TRUE(feed.askStart());
        // the lead-in: silence first, then the file
        EXPECT_EQ(play(feed, first, SoundFeed::leadInFrames), std::vector<int>(SoundFeed::leadInFrames, -1));
        origin = first + std::chrono::milliseconds(SoundFeed::leadInFrames);
        EXPECT_EQ(feed.waitForStart({SoundClock::now()}), origin);
    }
};

TEST(SoundFeedTest, SilentUntilStartedThenTheFileFromItsFirstFrameWhereverTheOutputStands) {
    SoundFeed feed(numberedFile(100), rate);
    const auto soon = SoundClock::now() + 1s;
    EXPECT_EQ(play(feed, soon), std::vector<int>(buffer, -1)) << "before the start";
    ASSERT_TRUE(feed.askStart());
    EXPECT_FALSE(feed.askStart()) << "asked twice";
    EXPECT_EQ(play(feed, std::nullopt), std::vector<int>(buffer, -1)) << "an output that cannot say when";
    EXPECT_EQ(play(feed, SoundClock::now() - 1s), std::vector<int>(buffer, -1)) << "a buffer already late";
    const std::vector<int> started = play(feed, soon, SoundFeed::leadInFrames + 5);
    EXPECT_EQ(std::vector<int>(started.end() - 5, started.end()), frames(0, 5));
    EXPECT_EQ(feed.waitForStart({SoundClock::now()}),
              soon + std::chrono::milliseconds(SoundFeed::leadInFrames));
}

TEST(SoundFeedTest, TheFrameHeardAtEachMomentIsTheFilesAtThatMomentLessTheOrigin) {
    struct Case {
        const char* name;
        int reportedMs;  // where the output says the next buffer is heard, from the origin
        std::vector<int> played;
    };
    // each case follows on from ten frames played on time
    const Case cases[] = {
        {"on time", 10, frames(10, 10)},
        {"a report within the tolerance", 13, frames(10, 10)},
        {"after a dropout of 30 ms: what it missed is skipped", 40, frames(40, 10)},
        {"moved to a sink 20 ms further off: the file moves on", 30, frames(30, 10)},
        {"moved to a sink 8 ms nearer: the file goes back", 2, frames(2, 10)},
        {"the file's end: silence after it", 995, {995, 996, 997, 998, 999, -1, -1, -1, -1, -1}},
        {"long past the end", 5000, std::vector<int>(buffer, -1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartedFeed started;
        ASSERT_EQ(play(started.feed, started.origin), frames(0, 10));
        EXPECT_EQ(play(started.feed, started.origin + std::chrono::milliseconds(c.reportedMs)), c.played);
    }
}

TEST(SoundFeedTest, AClockThatDriftsIsFollowedAFrameABufferAndAReportThatWandersIsNot) {
    struct Case {
        const char* name;
        int strayMs;  // where each report puts the next buffer, against the frames next in line
        int slip;     // the first frame the feed moves by: skipped (1), played twice (-1), none (0)
    };
    const Case cases[] = {
        {"reports a millisecond off by turns", 0, 0},
        {"an output 3 ms ahead for good", 3, 1},
        {"an output 3 ms behind for good", -3, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartedFeed started;
        int position = 0;
        int slip = 0;
        for (int n = 1; n <= 40 && slip == 0; ++n) {
            const int wander = c.strayMs == 0 ? (n % 2 == 0 ? 1 : -1) : c.strayMs;
            const std::vector<int> played =
                play(started.feed, started.origin + std::chrono::milliseconds(position + wander));
            if (played.front() != position) slip = played.front() > position ? 1 : -1;
            position = played.back() + 1;
        }
        EXPECT_EQ(slip, c.slip);
    }
}

TEST(SoundFeedTest, ANewOutputPlaysNothingUntilItSaysWhenItsFramesAreHeardThenTheRightFrames) {
    StartedFeed started;
    ASSERT_EQ(play(started.feed, started.origin), frames(0, 10));
    started.feed.outputChanged();
    EXPECT_EQ(play(started.feed, std::nullopt), std::vector<int>(buffer, -1));
    // even where its first report lies within the tolerance of the frames next in line
    EXPECT_EQ(play(started.feed, started.origin + 22ms), frames(22, 10));
    EXPECT_EQ(play(started.feed, started.origin + 32ms), frames(32, 10));
}

TEST(SoundFeedTest, TheEndIsHeardWhenTheOutputSaysItsLastFrameIs) {
    StartedFeed started;
    EXPECT_EQ(started.feed.endHeardAt(), std::nullopt);
    ASSERT_EQ(play(started.feed, started.origin + 993ms)[6], 999);
    EXPECT_EQ(started.feed.endHeardAt(), started.origin + 999ms);
}

TEST(SoundFeedTest, AStartNoOutputTakesBeginsAtOnceAndALaterOutputPlacesTheFileFromThere) {
    SoundFeed feed(numberedFile(1000), rate);
    ASSERT_TRUE(feed.askStart());
    const auto before = SoundClock::now();
    const auto origin = feed.waitForStart({SoundClock::now() + 20ms});
    EXPECT_GE(origin, before + 20ms);
    EXPECT_LE(origin, SoundClock::now());
    EXPECT_EQ(play(feed, origin + 100ms), frames(100, 10));
}

TEST(SoundFeedTest, AStopHoldsTheFrameHeardThenAndARestartGoesOnFromIt) {
    StartedFeed started;
    ASSERT_EQ(play(started.feed, started.origin), frames(0, 10));
    std::this_thread::sleep_until(started.origin + 50ms);
    started.feed.stop();
    EXPECT_EQ(play(started.feed, started.origin + 60ms), std::vector<int>(buffer, -1));
    ASSERT_TRUE(started.feed.askStart());
    const auto resumed = SoundClock::now() + 1s;
    const std::vector<int> played = play(started.feed, resumed, SoundFeed::leadInFrames + 1);
    EXPECT_NEAR(played.back(), 50, 20) << "the frame heard at the stop, give or take the time the test took";

    started.feed.seekToStart();
    const std::vector<int> fromStart = play(started.feed, resumed + 1s, SoundFeed::leadInFrames + 1);
    EXPECT_EQ(fromStart.back(), 0) << "a seek under way plays the beginning after a lead-in";
}

}  // namespace
}  // namespace quarvel::platform
