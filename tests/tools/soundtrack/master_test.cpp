// Tests of the master stage: the loudness meter against the standard's reference signals, and the
// gain and limiter against the ceiling.
#include "soundtrack/master.h"

#include "soundtrack/portable_math.h"

#include <cmath>
#include <gtest/gtest.h>

namespace quarvel {
namespace {

struct Segment {
    double seconds;
    double leftAmplitude;
    double rightAmplitude;
};

// 997 Hz sines, the standard's calibration tone, one amplitude per channel and segment
StereoBuffer sines(std::initializer_list<Segment> segments) {
    size_t frames = 0;
    for (const Segment& s : segments) {
        frames += static_cast<size_t>(s.seconds * sampleRate);
    }
    StereoBuffer buffer = makeStereoBuffer(frames);
    size_t i = 0;
    for (const Segment& s : segments) {
        for (size_t n = 0; n < static_cast<size_t>(s.seconds * sampleRate); ++n, ++i) {
            double x = std::sin(2.0 * pi * 997.0 * i / sampleRate);
            buffer.left[i] = static_cast<float>(s.leftAmplitude * x);
            buffer.right[i] = static_cast<float>(s.rightAmplitude * x);
        }
    }
    return buffer;
}

TEST(IntegratedLoudness, MatchesReferenceTonesAndGates) {
    struct Case {
        const char* name;
        StereoBuffer signal;
        double expectedLufs;
        double tolerance;
    };
    const Case cases[] = {
        {"full-scale tone in one channel", sines({{5.0, 1.0, 0.0}}), -3.01, 0.05},
        {"-20 dBFS tone in both channels", sines({{5.0, 0.1, 0.1}}), -20.0, 0.05},
        // the absolute gate drops silence, the relative gate drops passages 10 LU under the rest
        // blocks that straddle the end of the tone pass both gates and pull the result a little down
        {"tone then silence", sines({{5.0, 0.1, 0.1}, {5.0, 0.0, 0.0}}), -20.1, 0.1},
        {"tone then a far quieter tone", sines({{5.0, 0.1, 0.1}, {5.0, 0.01, 0.01}}), -20.1, 0.1},
        {"two tones 6 dB apart", sines({{5.0, 0.1, 0.1}, {5.0, 0.05, 0.05}}), -22.0, 0.2},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(integratedLoudness(c.signal), c.expectedLufs, c.tolerance) << c.name;
    }
    EXPECT_LE(integratedLoudness(sines({{5.0, 0.0, 0.0}})), -100.0) << "silence";
    EXPECT_LE(integratedLoudness(sines({{0.3, 0.5, 0.5}})), -100.0) << "shorter than one block";
}

TEST(MasterTrack, ReachesTheTargetWithNoSampleAboveTheCeiling) {
    struct Case {
        const char* name;
        StereoBuffer signal;
    };
    StereoBuffer spiky = sines({{8.0, 0.01, 0.01}});
    for (size_t i = 1000; i < spiky.frames(); i += 20000) {
        spiky.left[i] = 0.9f;  // clicks far above the bed: all of them must go through the limiter
        spiky.right[i + 7] = -0.9f;
    }
    Case cases[] = {
        {"quiet tone", sines({{8.0, 0.01, 0.01}})},
        {"loud tone", sines({{8.0, 0.9, 0.9}})},
        {"quiet tone with clicks", spiky},
    };
    const MasterSettings settings;
    for (Case& c : cases) {
        MasterReport report = masterTrack(c.signal, settings);
        EXPECT_NEAR(report.loudnessLufs, settings.targetLufs, 0.1) << c.name;
        EXPECT_NEAR(integratedLoudness(c.signal), settings.targetLufs, 0.1) << c.name;
        EXPECT_LE(samplePeakDbfs(c.signal), settings.ceilingDbfs + 1e-6) << c.name;
        EXPECT_NEAR(report.peakDbfs, samplePeakDbfs(c.signal), 1e-9) << c.name;
    }
}

TEST(MasterTrack, LeavesSilenceSilent) {
    StereoBuffer silence = makeStereoBuffer(5 * sampleRate);
    masterTrack(silence);
    for (size_t i = 0; i < silence.frames(); ++i) {
        ASSERT_EQ(silence.left[i], 0.0f);
        ASSERT_EQ(silence.right[i], 0.0f);
    }
}

}  // namespace
}  // namespace quarvel
