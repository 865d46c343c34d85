// The run sequence over the scripted platform: the order of the run, the demo clock, and how a
// run ends, well or badly.
#include "launcher/run_sequence.h"

#include "fake_platform.h"
#include "launcher/demo_clock.h"

#include <algorithm>
#include <climits>
#include <gtest/gtest.h>

namespace quarvel {
namespace {

int countOf(const std::vector<std::string>& calls, const std::string& name) {
    return static_cast<int>(std::count(calls.begin(), calls.end(), name));
}

TEST(RunSequenceTest, EscapeBeforeTheFirstFrameStillPresentsOneFrame) {
    fake::PlatformScript script;
    script.escape = [](int) { return true; };
    fake::reset(script);
    EXPECT_EQ(runDemo(), exitSuccess);
    EXPECT_EQ(fake::record().swaps, 1);
    EXPECT_EQ(countOf(fake::record().calls, "draw"), 3);
}

TEST(RunSequenceTest, EscapeDuringTheRunEndsItAfterThatFrame) {
    fake::PlatformScript script;
    script.escape = [](int frame) { return frame == 41; };
    fake::reset(script);
    EXPECT_EQ(runDemo(), exitSuccess);
    EXPECT_EQ(fake::record().swaps, 42);
}

TEST(RunSequenceTest, AStopSignalEndsTheRunAfterThatFrameAndReleasesTheSoundtrack) {
    for (const int signal : {2, 15, 1}) {  // SIGINT, SIGTERM, SIGHUP
        SCOPED_TRACE(signal);
        fake::PlatformScript script;
        script.stopSignal = [signal](int frame) { return frame >= 9 ? signal : 0; };
        fake::reset(script);
        EXPECT_EQ(runDemo(), exitOnSignal(signal));
        EXPECT_EQ(fake::record().swaps, 10);
        EXPECT_EQ(fake::record().mediaReferences, 0);
        EXPECT_EQ(fake::record().calls.back(), "releaseMediaSeeking");
    }
}

TEST(RunSequenceTest, CallsThePlatformInTheOrderOfTheRun) {
    fake::PlatformScript script;
    script.escape = [](int frame) { return frame == 1; };
    fake::reset(script);
    runDemo();
    std::vector<std::string> expected = {
        "dialog",          "openSurface",       "createMediaGraph", "mediaControlOf", "mediaSeekingOf",
        "renderMediaFile", "releaseMediaGraph", "seekMediaToStart", "stopMedia",      "runMedia",
        "timer",  // the clock's origin
    };
    // two frames, each taking one message, reading the clock, drawing three passes and showing
    // them before the key test; Escape is found after the second
    for (int frame = 0; frame < 2; ++frame)
        expected.insert(expected.end(),
                        {"removeOneMessage", "timer", "draw", "draw", "draw", "swap", "escape"});
    expected.insert(expected.end(), {"releaseMediaControl", "releaseMediaSeeking"});
    EXPECT_EQ(fake::record().calls, expected);
    EXPECT_EQ(fake::record().surfaceWidth, 1920);
    EXPECT_EQ(fake::record().surfaceHeight, 1080);
    EXPECT_FALSE(fake::record().surfaceWindowed) << "the default is fullscreen";
}

TEST(RunSequenceTest, TheClockStartsAtMinusFiftyAndTheRunEndsAtTheFirstFrameAt86Seconds) {
    struct Case {
        const char* name;
        uint32_t origin;
        uint32_t step;  // ms per timer call: two calls a frame after the origin
    };
    const Case cases[] = {
        {"fast machine", 5'000, 1},
        {"slow machine", 5'000, 250},
        {"timer wraps during the run", UINT32_MAX - 40'000, 333},
        {"timer wraps at the origin", UINT32_MAX - 20, 97},
        {"timer reads zero at the origin", 0, 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::PlatformScript script;
        script.timer = [c](int call) { return c.origin + c.step * static_cast<uint32_t>(call); };
        fake::reset(script);
        ASSERT_EQ(runDemo(), exitSuccess);
        const std::vector<int32_t>& clocks = fake::record().frameClocks;
        ASSERT_GE(clocks.size(), 2u);
        EXPECT_EQ(clocks.front(), -50 + static_cast<int32_t>(c.step));
        EXPECT_GE(clocks.back(), runLengthMs);
        EXPECT_LT(clocks[clocks.size() - 2], runLengthMs);
        for (std::size_t i = 1; i < clocks.size(); ++i)
            ASSERT_EQ(clocks[i] - clocks[i - 1], static_cast<int32_t>(c.step)) << "frame " << i;
    }
}

TEST(RunSequenceTest, DemoClockIsWrapSafe) {
    const uint32_t origin = UINT32_MAX - 9;
    const uint32_t offset = demoClockOffset(origin);
    EXPECT_EQ(demoClock(origin, offset), -50);
    EXPECT_EQ(demoClock(origin + 10, offset), -40);  // the timer has wrapped to 0
    EXPECT_EQ(demoClock(origin + 86'050, offset), 86'000);
}

TEST(RunSequenceTest, FailuresEndTheRunWithAMessageAndANonZeroStatus) {
    struct Case {
        const char* name;
        fake::PlatformScript script;
        int status;
        bool messageBox;
        const char* messageHas;
    };
    std::vector<Case> cases;
    {
        fake::PlatformScript s;
        s.surfaceStatus = platform::SurfaceStatus::displayModeRefused;
        cases.push_back({"display refuses the mode", s, exitModeRefused, false, ""});
    }
    {
        fake::PlatformScript s;
        s.surfaceStatus = platform::SurfaceStatus::failed;
        s.surfaceMessage = "no display could be opened";
        cases.push_back({"no window", s, exitFailure, true, "no display could be opened"});
    }
    {
        fake::PlatformScript s;
        s.glVersion = "3.3 (Compatibility Profile) Mesa 22.3.6";
        cases.push_back({"GL too old", s, exitFailure, true,
                         "found OpenGL 3.3 (Compatibility Profile) Mesa 22.3.6 on fake renderer"});
    }
    {
        fake::PlatformScript s;
        s.missingEntryPoint = "glGetInfoLogARB";
        cases.push_back({"entry point missing", s, exitFailure, true, "without glGetInfoLogARB"});
    }
    {
        fake::PlatformScript s;
        s.failingShader = 1;
        cases.push_back({"feedback shader does not compile", s, exitFailure, true, "the fake says no"});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset(c.script);
        EXPECT_EQ(runDemo(), c.status);
        EXPECT_EQ(fake::record().swaps, 0) << "no frame is drawn";
        ASSERT_EQ(fake::record().messages.size(), c.messageBox ? 1u : 0u);
        if (c.messageBox) {
            EXPECT_NE(fake::record().messages[0].find(c.messageHas), std::string::npos)
                << fake::record().messages[0];
        }
    }
}

TEST(RunSequenceTest, CompileFailureShowsTheProgramLogAsItStands) {
    fake::PlatformScript script;
    script.failingShader = 0;
    script.programLog = std::string(5000, 'x');
    fake::reset(script);
    EXPECT_EQ(runDemo(), exitFailure);
    ASSERT_EQ(fake::record().messages.size(), 1u);
    EXPECT_EQ(fake::record().messages[0], std::string(2046, 'x')) << "at most 2,046 characters of log";
}

}  // namespace
}  // namespace quarvel
