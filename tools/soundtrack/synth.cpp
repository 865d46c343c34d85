// Oscillators, filters, noise and effects of the soundtrack synthesiser.
#include "soundtrack/synth.h"

#include "soundtrack/portable_math.h"

namespace quarvel {

StereoBuffer makeStereoBuffer(size_t frames) {
    StereoBuffer buffer;
    buffer.left.assign(frames, 0.0f);
    buffer.right.assign(frames, 0.0f);
    return buffer;
}

uint32_t hashIndex(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

uint32_t Noise::nextBits() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

double Noise::next() {
    return nextUnit() * 2.0 - 1.0;
}

double Noise::nextUnit() {
    return (nextBits() >> 8) * (1.0 / 16777216.0);
}

Noise seededNoise(uint32_t seed) {
    // xorshift must never hold zero
    uint32_t state = hashIndex(seed);
    return Noise{state == 0 ? 0x9e3779b9u : state};
}

double sineOfTurns(double phase) {
    return portableSin(phase * (2.0 * pi));
}

namespace {

// polynomial correction around the saw's jump, which removes most of its aliasing
double polyBlep(double t, double dt) {
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0;
    }
    if (t > 1.0 - dt) {
        t = (t - 1.0) / dt;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

}  // namespace

double sawOfTurns(double phase, double increment) {
    return 2.0 * phase - 1.0 - polyBlep(phase, increment);
}

double decayFactor(double seconds) {
    return portableExp(-1.0 / (seconds * sampleRate));
}

void Svf::setup(double hz, double q) {
    double limited = clampTo(hz, 10.0, 0.45 * sampleRate);
    double g = portableTan(pi * limited / sampleRate);
    k = 1.0 / q;
    a1 = 1.0 / (1.0 + g * (g + k));
    a2 = g * a1;
    a3 = g * a2;
}

Svf::Outputs Svf::tick(double x) {
    double v3 = x - ic2;
    double v1 = a1 * ic1 + a2 * v3;
    double v2 = ic2 + a2 * ic1 + a3 * v3;
    ic1 = 2.0 * v1 - ic1;
    ic2 = 2.0 * v2 - ic2;
    return {v2, v1, x - k * v1 - v2};
}

void OnePole::setHz(double hz) {
    a = 1.0 - portableExp(-2.0 * pi * hz / sampleRate);
}

double softClip(double x) {
    if (x > 3.0) {
        return 1.0;
    }
    if (x < -3.0) {
        return -1.0;
    }
    return x * (27.0 + x * x) / (27.0 + 9.0 * x * x);
}

namespace {

// line lengths tuned for 44.1 kHz; mutually prime-ish so the echoes do not pile up
constexpr std::array<size_t, 8> combLengths{1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
constexpr std::array<size_t, 4> allpassLengths{556, 441, 341, 225};
constexpr size_t stereoSpread = 23;

}  // namespace

Reverb::Reverb(double roomSize, double damping) : feedback_(0.28 + 0.7 * roomSize), damping_(0.4 * damping) {
    for (size_t side = 0; side < 2; ++side) {
        for (size_t i = 0; i < combLengths.size(); ++i) {
            combs_[side][i].line.assign(combLengths[i] + side * stereoSpread, 0.0f);
        }
        for (size_t i = 0; i < allpassLengths.size(); ++i) {
            allpasses_[side][i].line.assign(allpassLengths[i] + side * stereoSpread, 0.0f);
        }
    }
}

void Reverb::process(double inLeft, double inRight, double& outLeft, double& outRight) {
    double input = (inLeft + inRight) * 0.015;
    double out[2] = {0.0, 0.0};
    for (size_t side = 0; side < 2; ++side) {
        for (Comb& comb : combs_[side]) {
            double delayed = comb.line[comb.pos];
            comb.store = delayed * (1.0 - damping_) + comb.store * damping_;
            comb.line[comb.pos] = static_cast<float>(input + comb.store * feedback_);
            comb.pos = comb.pos + 1 == comb.line.size() ? 0 : comb.pos + 1;
            out[side] += delayed;
        }
        for (Allpass& allpass : allpasses_[side]) {
            double delayed = allpass.line[allpass.pos];
            allpass.line[allpass.pos] = static_cast<float>(out[side] + delayed * 0.5);
            allpass.pos = allpass.pos + 1 == allpass.line.size() ? 0 : allpass.pos + 1;
            out[side] = delayed - out[side];
        }
    }
    outLeft = out[0];
    outRight = out[1];
}

PingPongDelay::PingPongDelay(double seconds, double feedback, double dampingHz)
    : left_(static_cast<size_t>(seconds * sampleRate + 0.5), 0.0f),
      right_(left_.size(), 0.0f),
      feedback_(feedback) {
    dampLeft_.setHz(dampingHz);
    dampRight_.setHz(dampingHz);
}

void PingPongDelay::process(double inLeft, double inRight, double& outLeft, double& outRight) {
    outLeft = left_[pos_];
    outRight = right_[pos_];
    // the input enters on the left; each echo crosses to the other side
    left_[pos_] = static_cast<float>(0.5 * (inLeft + inRight) + feedback_ * dampRight_.lowpass(outRight));
    right_[pos_] = static_cast<float>(feedback_ * dampLeft_.lowpass(outLeft));
    pos_ = pos_ + 1 == left_.size() ? 0 : pos_ + 1;
}

}  // namespace quarvel
