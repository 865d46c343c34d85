// The soundtrack in the run sequence, over the scripted platform: one status line before the
// clock starts, a full run whatever the media service does, and references released in order.
#include "audio/soundtrack_player.h"

#include "launcher/demo_clock.h"
#include "launcher/fake_platform.h"
#include "launcher/run_sequence.h"
#include "stdout_capture.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarvel {
namespace {

std::vector<std::string> mediaCalls(const std::vector<std::string>& calls) {
    std::vector<std::string> media;
    for (const std::string& call : calls) {
        if (call.find("edia") != std::string::npos) media.push_back(call);  // media..., ...Media...
    }
    return media;
}

TEST(SoundtrackPlayerTest, EveryOutcomeGivesOneStatusLineBeforeTheClockAndAFullRun) {
    struct Case {
        const char* name;
        fake::PlatformScript script;
        const char* line;
        std::vector<std::string> calls;  // media calls, in order
    };
    std::vector<Case> cases;
    const std::vector<std::string> allCalls = {
        "createMediaGraph", "mediaControlOf", "mediaSeekingOf", "renderMediaFile",     "releaseMediaGraph",
        "seekMediaToStart", "stopMedia",      "runMedia",       "releaseMediaControl", "releaseMediaSeeking",
    };
    cases.push_back({"file plays", {}, test::successLine, allCalls});
    {
        fake::PlatformScript s;
        s.mediaRender = platform::MediaRenderResult::failed;
        cases.push_back({"file does not render", s, test::failureLine, allCalls});
    }
    {
        fake::PlatformScript s;
        s.mediaGraphAvailable = false;
        cases.push_back({"no media service", s, test::failureLine, {"createMediaGraph"}});
    }
    {
        fake::PlatformScript s;
        s.mediaControlAvailable = false;
        cases.push_back({"no control reference",
                         s,
                         test::failureLine,
                         {"createMediaGraph", "mediaControlOf", "mediaSeekingOf", "releaseMediaGraph",
                          "seekMediaToStart", "releaseMediaSeeking"}});
    }
    {
        fake::PlatformScript s;
        s.mediaSeekingAvailable = false;
        cases.push_back({"no seeking reference",
                         s,
                         test::failureLine,
                         {"createMediaGraph", "mediaControlOf", "mediaSeekingOf", "releaseMediaGraph",
                          "stopMedia", "runMedia", "releaseMediaControl"}});
    }

    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string atClockOrigin;
        std::string written;
        int status = -1;
        {
            test::StdoutCapture capture;
            c.script.timer = [&](int call) {
                if (call == 0) atClockOrigin = capture.written();
                return 1000u + 7u * static_cast<uint32_t>(call);
            };
            fake::reset(c.script);
            status = runDemo();
            written = capture.written();
        }
        EXPECT_EQ(status, exitSuccess);
        EXPECT_EQ(written, c.line) << "one line, and nothing else on stdout";
        EXPECT_EQ(atClockOrigin, c.line) << "flushed before the clock's origin, so before the first frame";
        const std::vector<int32_t>& clocks = fake::record().frameClocks;
        ASSERT_GE(clocks.size(), 2u);
        EXPECT_GE(clocks.back(), runLengthMs);
        EXPECT_LT(clocks[clocks.size() - 2], runLengthMs);

        EXPECT_EQ(mediaCalls(fake::record().calls), c.calls);
        EXPECT_EQ(fake::record().mediaCallsWithoutReference, 0);
        EXPECT_EQ(fake::record().mediaReferences, 0) << "every reference is released";
    }
}

TEST(SoundtrackPlayerTest, RunComesRightBeforeTheClockOriginAndEscapeReleasesWithoutStop) {
    fake::PlatformScript script;
    script.escape = [](int frame) { return frame == 3; };
    fake::reset(script);
    {
        test::StdoutCapture capture;
        runDemo();
    }

    const std::vector<std::string>& calls = fake::record().calls;
    const auto run = std::find(calls.begin(), calls.end(), "runMedia");
    ASSERT_NE(run, calls.end());
    EXPECT_EQ(*(run + 1), "timer") << "the clock's origin follows Run at once";
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "runMedia"), 1);
    EXPECT_EQ(std::find(run, calls.end(), "stopMedia"), calls.end()) << "no Stop after Run";

    const std::vector<std::string> tail(calls.end() - 3, calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"escape", "releaseMediaControl", "releaseMediaSeeking"}));
    EXPECT_EQ(fake::record().swaps, 4);
    EXPECT_EQ(fake::record().mediaFiles, std::vector<std::string>{"audio.mp3"});
}

TEST(SoundtrackPlayerTest, ReleasingTwiceOrDestroyingAfterReleaseGivesUpNothingMore) {
    fake::reset();
    int heldAfterConstruction = 0;
    {
        test::StdoutCapture capture;
        SoundtrackPlayer player(soundtrackFileName);
        heldAfterConstruction = fake::record().mediaReferences;
        player.release();
        player.release();
        player.run();
    }
    EXPECT_EQ(heldAfterConstruction, 2);
    EXPECT_EQ(fake::record().mediaReferences, 0);
    EXPECT_EQ(fake::record().mediaCallsWithoutReference, 0);
    {
        test::StdoutCapture capture;
        SoundtrackPlayer player(soundtrackFileName);
    }
    EXPECT_EQ(fake::record().mediaReferences, 0) << "the destructor releases what is still held";
}

}  // namespace
}  // namespace quarvel
