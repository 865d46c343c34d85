// Tests of the rendered track against the show's timeline: length, level, determinism, and hits found
// in the samples themselves at every event of the picture's cycle.
#include "soundtrack/master.h"
#include "soundtrack/soundtrack.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace quarvel {
namespace {

// rendered once per test process
const Soundtrack& soundtrack() {
    static const Soundtrack produced = produceSoundtrack();
    return produced;
}

long frameAt(double seconds) {
    return std::lround(seconds * sampleRate);
}

// energy of the slope of the mono mix: a crude high-pass, so transients stand out from the pads
class OnsetDetector {
public:
    explicit OnsetDetector(const StereoBuffer& buffer) : cumulative_(buffer.frames() + 1, 0.0) {
        double previous = 0.0;
        for (size_t i = 0; i < buffer.frames(); ++i) {
            double mono = 0.5 * (static_cast<double>(buffer.left[i]) + buffer.right[i]);
            double slope = mono - previous;
            previous = mono;
            cumulative_[i + 1] = cumulative_[i] + slope * slope;
        }
    }

    // rise in dB of the 10 ms after a frame over the 10 ms before it
    double strength(long frame) const {
        const long window = frameAt(0.010);
        return 10.0 *
               std::log10((energy(frame, frame + window) + 1e-12) / (energy(frame - window, frame) + 1e-12));
    }

    // the frame of the strongest rise within radius of a frame, searched every half millisecond
    long strongestNear(long around, long radius) const {
        long best = around;
        for (long frame = around - radius; frame <= around + radius; frame += frameAt(0.0005)) {
            if (strength(frame) > strength(best)) {
                best = frame;
            }
        }
        return best;
    }

private:
    double energy(long from, long to) const {
        long last = static_cast<long>(cumulative_.size()) - 1;
        from = std::clamp(from, 0L, last);
        to = std::clamp(to, 0L, last);
        return cumulative_[to] - cumulative_[from];
    }

    std::vector<double> cumulative_;
};

double peakDbfsBetween(const StereoBuffer& buffer, double from, double to) {
    double peak = 0.0;
    for (long i = frameAt(from); i < std::min(frameAt(to), static_cast<long>(buffer.frames())); ++i) {
        peak = std::max({peak, std::fabs(static_cast<double>(buffer.left[i])),
                         std::fabs(static_cast<double>(buffer.right[i]))});
    }
    return peak > 0.0 ? 20.0 * std::log10(peak) : -200.0;
}

TEST(Track, LastsEightySixSeconds) {
    EXPECT_NEAR(static_cast<double>(soundtrack().samples.frames()) / sampleRate, 86.0, 0.1);
    ASSERT_TRUE(soundtrack().mp3.ok()) << soundtrack().mp3.error;
    // at 256 kbit/s constant, the encoded length follows from the size
    EXPECT_NEAR(soundtrack().mp3.bytes.size() * 8.0 / 256000.0, 86.0, 0.1);
}

TEST(Track, IsAsLoudAsPlannedWithHeadroomAndNoBadSamples) {
    const StereoBuffer& samples = soundtrack().samples;
    double loudness = integratedLoudness(samples);
    EXPECT_GE(loudness, -16.0);
    EXPECT_LE(loudness, -12.0);
    EXPECT_LE(samplePeakDbfs(samples), -1.0);
    for (size_t i = 0; i < samples.frames(); ++i) {
        ASSERT_TRUE(std::isfinite(samples.left[i]) && std::isfinite(samples.right[i])) << "frame " << i;
    }
    EXPECT_NEAR(soundtrack().master.loudnessLufs, loudness, 1e-9);
}

TEST(Track, TwoRendersGiveIdenticalBytes) {
    Soundtrack second = produceSoundtrack();
    ASSERT_TRUE(second.mp3.ok()) << second.mp3.error;
    EXPECT_TRUE(second.samples.left == soundtrack().samples.left);
    EXPECT_TRUE(second.samples.right == soundtrack().samples.right);
    EXPECT_TRUE(second.mp3.bytes == soundtrack().mp3.bytes);
}

TEST(Track, EveryEventOfTheCycleStartsAHit) {
    // events A, B and C at 0, 4.0 and 5.2 s of each 10.16 s cycle, up to the swell, whose roll
    // brings onsets of its own
    std::vector<double> events;
    for (int cycle = 0; cycle < 8; ++cycle) {
        for (double offset : {0.0, 4.0, 5.2}) {
            if (cycle * 10.16 + offset < 77.0) {
                events.push_back(cycle * 10.16 + offset);
            }
        }
    }
    ASSERT_EQ(events.size(), 24u);
    OnsetDetector detector(soundtrack().samples);
    for (double event : events) {
        // the strongest rise within 150 ms must be the hit, not a glitch burst or a note nearby
        long found = detector.strongestNear(frameAt(event), frameAt(0.150));
        double foundSeconds = static_cast<double>(found) / sampleRate;
        EXPECT_NEAR(foundSeconds, event, 0.020) << "event at " << event << " s";
        EXPECT_GE(detector.strength(found), 6.0) << "event at " << event << " s";
    }
}

TEST(Track, CutsAtEightyTwoAndFallsSilentBeforeTheEnd) {
    const StereoBuffer& samples = soundtrack().samples;
    double before = peakDbfsBetween(samples, 81.7, 81.99);
    double after = peakDbfsBetween(samples, 82.1, 82.4);
    EXPECT_GE(before - after, 6.0) << before << " dBFS before the cut, " << after << " dBFS after";
    EXPECT_LT(peakDbfsBetween(samples, 83.5, 84.0), after - 20.0) << "the tail decays";
    EXPECT_LT(peakDbfsBetween(samples, 85.8, 86.0), -120.0) << "silent at the end";
}

}  // namespace
}  // namespace quarvel
