// Tests of the synthesiser's building blocks: the portable maths, noise, phase, envelopes and the
// filter.
#include "soundtrack/synth.h"

#include "soundtrack/portable_math.h"

#include <cmath>
#include <gtest/gtest.h>

namespace quarvel {
namespace {

TEST(PortableMath, AgreesWithTheStandardLibraryOverTheRangesInUse) {
    struct Case {
        const char* name;
        double (*portable)(double);
        double (*reference)(double);
        double from, to;
    };
    const Case cases[] = {
        {"sin", portableSin, [](double x) { return std::sin(x); }, -200.0, 200.0},
        {"cos", portableCos, [](double x) { return std::cos(x); }, -50.0, 50.0},
        {"tan", portableTan, [](double x) { return std::tan(x); }, 0.0, 1.5},
        {"exp", portableExp, [](double x) { return std::exp(x); }, -60.0, 60.0},
        {"log", portableLog, [](double x) { return std::log(x); }, 1e-9, 1e6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int i = 0; i <= 2000; ++i) {
            double x = c.from + (c.to - c.from) * i / 2000.0;
            double expected = c.reference(x);
            EXPECT_NEAR(c.portable(x), expected, 1e-10 * std::max(1.0, std::fabs(expected))) << "at " << x;
        }
    }
    EXPECT_NEAR(portablePow(20.0, 0.37), std::pow(20.0, 0.37), 1e-12);
    EXPECT_NEAR(noteToHz(69), 440.0, 1e-9);
    EXPECT_NEAR(noteToHz(57), 220.0, 1e-9);
}

TEST(Noise, SameSeedSameSequenceAndValuesStayInRange) {
    Noise a = seededNoise(42), b = seededNoise(42), c = seededNoise(43);
    int differences = 0;
    for (int i = 0; i < 10000; ++i) {
        double x = a.next();
        ASSERT_EQ(x, b.next());
        ASSERT_GE(x, -1.0);
        ASSERT_LT(x, 1.0);
        differences += x != c.next();
    }
    EXPECT_GT(differences, 9990);
    // a seed that hashes to zero must not lock the generator
    Noise zero = seededNoise(0);
    EXPECT_NE(zero.nextBits(), zero.nextBits());
}

TEST(Phasor, WrapsIntoOneTurnAndKeepsItsFrequency) {
    Phasor phasor;
    EXPECT_EQ(phasor.tick(441.0), 0.0) << "a tick gives the phase before it advances";
    EXPECT_NEAR(phasor.phase, 0.01, 1e-15);
    int wraps = 0;
    double previous = phasor.phase;
    for (int n = 1; n < sampleRate; ++n) {
        double phase = phasor.tick(441.0);
        ASSERT_GE(phase, 0.0);
        ASSERT_LT(phase, 1.0);
        wraps += phase < previous;
        previous = phase;
    }
    EXPECT_EQ(wraps, 440) << "441 turns in a second, the first from 0";
}

TEST(Envelopes, ReachTheirLevelsOnTime) {
    Decay decay(0.1);
    EXPECT_EQ(decay.tick(), 1.0) << "a tick gives the level before it falls";
    for (int n = 1; n < sampleRate / 10; ++n) decay.tick();
    EXPECT_NEAR(decay.level, std::exp(-1.0), 1e-9) << "1/e after its time";

    SmoothGate smooth(0.01, 0.02);
    double level = 0.0;
    for (int n = 0; n < sampleRate / 100; ++n) level = smooth.tick(true);
    EXPECT_NEAR(level, 1.0 - std::exp(-1.0), 1e-3) << "rises by its attack time";
    for (int n = 0; n < sampleRate / 50; ++n) level = smooth.tick(false);
    EXPECT_NEAR(level, (1.0 - std::exp(-1.0)) * std::exp(-1.0), 1e-3) << "falls by its release time";

    const Gate gate{10, 100, 50};
    EXPECT_EQ(gate.frames(), 150u);
    struct Case {
        size_t n;
        double level;
    };
    const Case cases[] = {{0, 0.0}, {5, 0.5}, {10, 1.0}, {99, 1.0}, {100, 1.0}, {125, 0.5}, {149, 0.02}};
    for (const Case& c : cases) {
        EXPECT_NEAR(gate.at(c.n), c.level, 1e-12) << "gate at " << c.n;
    }
    EXPECT_EQ(fadeIn(22, 44), 0.5);
    EXPECT_EQ(fadeIn(44, 44), 1.0);
}

// steady-state gain of the low-pass output for a sine, in dB
double lowpassGainDb(double cutoffHz, double toneHz) {
    Svf filter;
    filter.setup(cutoffHz, 0.7071);
    double in = 0.0, out = 0.0, phase = 0.0;
    for (int n = 0; n < sampleRate; ++n) {
        double x = sineOfTurns(phase);
        phase += toneHz / sampleRate;
        double y = filter.tick(x).low;
        if (n >= sampleRate / 2) {
            in += x * x;
            out += y * y;
        }
    }
    return 10.0 * std::log10(out / in);
}

TEST(Svf, LowPassPassesBelowAndFallsTwelveDecibelsPerOctaveAbove) {
    struct Case {
        double toneHz;
        double expectedDb;
        double tolerance;
    };
    // a Butterworth response at 1 kHz: flat below, -3 dB at the cutoff, -12 dB per octave above
    const Case cases[] = {{100.0, 0.0, 0.1}, {1000.0, -3.0, 0.2}, {2000.0, -12.3, 0.3}, {4000.0, -24.1, 0.6}};
    for (const Case& c : cases) {
        EXPECT_NEAR(lowpassGainDb(1000.0, c.toneHz), c.expectedDb, c.tolerance) << c.toneHz << " Hz";
    }
}

TEST(Reverb, RingsOnAfterAnImpulseAndDiesAway) {
    Reverb reverb(0.86, 0.4);
    double early = 0.0, late = 0.0;
    for (int n = 0; n < 6 * sampleRate; ++n) {
        double left = 0.0, right = 0.0;
        reverb.process(n == 0 ? 1.0 : 0.0, n == 0 ? 1.0 : 0.0, left, right);
        ASSERT_TRUE(std::isfinite(left) && std::isfinite(right));
        double& bucket = n >= 5 * sampleRate ? late : early;
        bucket += left * left + right * right;
    }
    EXPECT_GT(early, 0.0);
    EXPECT_LT(late, early * 1e-4);
}

}  // namespace
}  // namespace quarvel
