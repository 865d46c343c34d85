// Building blocks of the soundtrack synthesiser: a stereo sample buffer, seeded noise,
// oscillators, envelopes, filters and the two effects (reverb, ping-pong delay).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quarvel {

inline constexpr int sampleRate = 44100;

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

// phase accumulator in turns
struct Phasor {
    double phase = 0.0;
    double increment = 0.0;

    void setHz(double hz) { increment = hz / sampleRate; }
    double tick();  // returns the phase before advancing
};

// per-sample factor that brings a level down by 1/e over the given time
double decayFactor(double seconds);

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
