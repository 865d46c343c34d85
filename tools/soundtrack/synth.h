// Building blocks of the soundtrack synthesiser: a stereo sample buffer, seeded noise,
// oscillators, envelopes, filters and the two effects (reverb, ping-pong delay).
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quarvel {

inline constexpr int sampleRate = 44100;
inline constexpr double samplePeriod = 1.0 / sampleRate;  // seconds

// planar stereo samples, nominally in [-1, 1]
struct StereoBuffer {
    std::vector<float> left;
    std::vector<float> right;

    size_t frames() const { return left.size(); }
};

StereoBuffer makeStereoBuffer(size_t frames);

// well-mixed 32-bit hash, for deriving per-event seeds and choices from an index
uint32_t hashIndex(uint32_t x);

// xorshift32: tiny, fast and the same everywhere; every voice owns one with a fixed seed
struct Noise {
    uint32_t state = 0x9e3779b9u;

    uint32_t nextBits();
    double next();      // uniform in [-1, 1)
    double nextUnit();  // uniform in [0, 1)
};

Noise seededNoise(uint32_t seed);

// sine from a phase in turns
double sineOfTurns(double phase);

// band-limited sawtooth: phase in turns [0, 1), increment in turns per sample
double sawOfTurns(double phase, double increment);

// The phase of an oscillator in turns, kept in [0, 1) as it advances. Each voice owns its own.
struct Phasor {
    double phase = 0.0;

    // returns the phase, then moves it on by `turns` and wraps it
    double advance(double turns) {
        double current = phase;
        phase += turns;
        phase -= std::floor(phase);
        return current;
    }
    // returns the phase, then moves it on by one sample at `hz`
    double tick(double hz) { return advance(hz * samplePeriod); }
    double sine(double hz) { return sineOfTurns(tick(hz)); }
    double saw(double hz) {
        double turns = hz * samplePeriod;
        return sawOfTurns(advance(turns), turns);
    }
};

// per-sample factor that brings a level down by 1/e over the given time
double decayFactor(double seconds);

// A level that starts at 1 and falls by 1/e over the given time.
struct Decay {
    double level = 1.0;
    double factor;

    explicit Decay(double seconds) : factor(decayFactor(seconds)) {}
    // returns the level, then lets it fall by one sample
    double tick() {
        double current = level;
        level *= factor;
        return current;
    }
};

// A straight rise from 0 over the first `frames` samples of a sound, then 1: no click at its start.
inline double fadeIn(size_t n, size_t frames) {
    return n < frames ? static_cast<double>(n) / static_cast<double>(frames) : 1.0;
}

// A note's gate by sample index: a straight attack, held to `length`, then a straight release.
struct Gate {
    size_t attack;
    size_t length;
    size_t release;

    size_t frames() const { return length + release; }
    double at(size_t n) const {
        if (n < length) return fadeIn(n, attack);
        return 1.0 - static_cast<double>(n - length) / static_cast<double>(release);
    }
};

// A level that glides towards 1 while held and falls away once released, each by a time constant.
struct SmoothGate {
    double level = 0.0;
    double rise;
    double fall;

    SmoothGate(double attackSeconds, double releaseSeconds)
        : rise(1.0 - decayFactor(attackSeconds)), fall(decayFactor(releaseSeconds)) {}
    // moves the level on by one sample and returns it
    double tick(bool held) {
        level = held ? level + (1.0 - level) * rise : level * fall;
        return level;
    }
};

// topology-preserving state variable filter (trapezoidal integration): stable under fast modulation
struct Svf {
    double a1 = 0.0, a2 = 0.0, a3 = 0.0, k = 1.0;
    double ic1 = 0.0, ic2 = 0.0;

    struct Outputs {
        double low, band, high;
    };

    void setup(double hz, double q);
    Outputs tick(double x);
};

// one-pole low-pass
struct OnePole {
    double a = 1.0;
    double z = 0.0;

    void setHz(double hz);
    double lowpass(double x) { return z += a * (x - z); }
};

// smooth saturation, odd and monotonic, flat at +-1 beyond |x| = 3
double softClip(double x);

// eight damped combs and four allpasses per channel, the right channel's lines slightly longer
class Reverb {
public:
    Reverb(double roomSize, double damping);
    void process(double inLeft, double inRight, double& outLeft, double& outRight);

private:
    struct Comb {
        std::vector<float> line;
        size_t pos = 0;
        double store = 0.0;
    };
    struct Allpass {
        std::vector<float> line;
        size_t pos = 0;
    };
    std::array<std::array<Comb, 8>, 2> combs_;
    std::array<std::array<Allpass, 4>, 2> allpasses_;
    double feedback_;
    double damping_;
};

// echoes that alternate between the two sides, darkened on every pass
class PingPongDelay {
public:
    PingPongDelay(double seconds, double feedback, double dampingHz);
    void process(double inLeft, double inRight, double& outLeft, double& outRight);

private:
    std::vector<float> left_, right_;
    size_t pos_ = 0;
    double feedback_;
    OnePole dampLeft_, dampRight_;
};

}  // namespace quarvel
