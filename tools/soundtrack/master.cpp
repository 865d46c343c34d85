// Loudness meter, peak meter and the limiter of the master stage. Measured here rather than by a
// loudness library: the track must master to the same bits on every machine, which portable_math.h
// gives and a library's libm calls do not.
#include "soundtrack/master.h"

#include "soundtrack/portable_math.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <utility>

namespace quarvel {
namespace {

constexpr double silenceDb = -200.0;

// two-stage K-weighting (a high shelf, then a high-pass), with coefficients derived for any rate
// from the analogue prototypes the standard's 48 kHz coefficients come from
struct Biquad {
    double b0, b1, b2, a1, a2;
    double z1 = 0.0, z2 = 0.0;

    double tick(double x) {
        double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

struct KWeighting {
    Biquad shelf;
    Biquad highPass;

    double tick(double x) { return highPass.tick(shelf.tick(x)); }
};

KWeighting makeKWeighting(double rate) {
    KWeighting filter{};
    {
        double f0 = 1681.974450955533, gainDb = 3.999843853973347, q = 0.7071752369554196;
        double k = portableTan(pi * f0 / rate);
        double vh = portablePow(10.0, gainDb / 20.0);
        double vb = portablePow(vh, 0.4996667741545416);
        double a0 = 1.0 + k / q + k * k;
        filter.shelf = {(vh + vb * k / q + k * k) / a0, 2.0 * (k * k - vh) / a0,
                        (vh - vb * k / q + k * k) / a0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
    }
    {
        double f0 = 38.13547087602444, q = 0.5003270373238773;
        double k = portableTan(pi * f0 / rate);
        double a0 = 1.0 + k / q + k * k;
        filter.highPass = {1.0, -2.0, 1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
    }
    return filter;
}

double blockLoudness(double meanSquare) {
    return -0.691 + 10.0 * portableLog(meanSquare) / ln10;
}

double meanSquareOf(double lufs) {
    return portableExp((lufs + 0.691) / 10.0 * ln10);
}

// scales by the gain and limits to the ceiling; returns the smallest limiter gain used
double applyGainAndLimit(const StereoBuffer& in, StereoBuffer& out, double gain, double ceiling) {
    const size_t frames = in.frames();
    const size_t window = static_cast<size_t>(0.003 * sampleRate);  // look-ahead, also the smoothing length
    std::vector<double> need(frames);
    for (size_t i = 0; i < frames; ++i) {
        double peak = gain * std::max(std::fabs(in.left[i]), std::fabs(in.right[i]));
        need[i] = peak > ceiling ? ceiling / peak : 1.0;
    }
    // hold[k]: the smallest need in [k, k + window), then a release back towards 1; never above need
    std::vector<double> hold(frames);
    std::deque<size_t> candidates;
    for (size_t k = frames; k-- > 0;) {
        while (!candidates.empty() && need[candidates.back()] >= need[k]) {
            candidates.pop_back();
        }
        candidates.push_back(k);
        while (candidates.front() >= k + window) {
            candidates.pop_front();
        }
        hold[k] = need[candidates.front()];
    }
    const double release = decayFactor(0.08);
    double released = 1.0;
    for (size_t k = 0; k < frames; ++k) {
        released = std::min(hold[k], 1.0 - (1.0 - released) * release);
        hold[k] = released;
    }
    // the gain at i averages hold over the window ending at i: each term already covers frame i
    out = makeStereoBuffer(frames);
    double sum = static_cast<double>(window);
    double deepest = 1.0;
    for (size_t i = 0; i < frames; ++i) {
        sum += hold[i] - (i >= window ? hold[i - window] : 1.0);
        double g = gain * std::min(1.0, sum / window);
        deepest = std::min(deepest, sum / window);
        out.left[i] = static_cast<float>(clampTo(in.left[i] * g, -ceiling, ceiling));
        out.right[i] = static_cast<float>(clampTo(in.right[i] * g, -ceiling, ceiling));
    }
    return deepest;
}

}  // namespace

double integratedLoudness(const StereoBuffer& buffer) {
    const size_t hop = sampleRate / 10;  // blocks of 400 ms overlap by 75 %: four 100 ms hops each
    const size_t hops = buffer.frames() / hop;
    if (hops < 4) {
        return silenceDb;
    }
    std::vector<double> hopEnergy(hops, 0.0);
    for (const std::vector<float>* channel : {&buffer.left, &buffer.right}) {
        KWeighting filter = makeKWeighting(sampleRate);
        for (size_t i = 0; i < hops * hop; ++i) {
            double y = filter.tick((*channel)[i]);
            hopEnergy[i / hop] += y * y;
        }
    }
    std::vector<double> blocks;
    const double absoluteGate = meanSquareOf(-70.0);
    for (size_t k = 0; k + 4 <= hops; ++k) {
        double z = (hopEnergy[k] + hopEnergy[k + 1] + hopEnergy[k + 2] + hopEnergy[k + 3]) / (4.0 * hop);
        if (z > absoluteGate) {
            blocks.push_back(z);
        }
    }
    if (blocks.empty()) {
        return silenceDb;
    }
    double sum = 0.0;
    for (double z : blocks) {
        sum += z;
    }
    const double relativeGate = meanSquareOf(blockLoudness(sum / blocks.size()) - 10.0);
    double gatedSum = 0.0;
    size_t gatedCount = 0;
    for (double z : blocks) {
        if (z > relativeGate) {
            gatedSum += z;
            ++gatedCount;
        }
    }
    return gatedCount == 0 ? silenceDb : blockLoudness(gatedSum / gatedCount);
}

double samplePeakDbfs(const StereoBuffer& buffer) {
    double peak = 0.0;
    for (size_t i = 0; i < buffer.frames(); ++i) {
        peak = std::max(peak,
                        static_cast<double>(std::max(std::fabs(buffer.left[i]), std::fabs(buffer.right[i]))));
    }
    return peak > 0.0 ? gainToDecibels(peak) : silenceDb;
}

MasterReport masterTrack(StereoBuffer& buffer, const MasterSettings& settings) {
    MasterReport report;
    const double ceiling = decibelsToGain(settings.ceilingDbfs);
    double measured = integratedLoudness(buffer);
    if (measured <= silenceDb) {
        // nothing to bring up; still keep the ceiling
        StereoBuffer out;
        report.deepestLimitingDb = gainToDecibels(applyGainAndLimit(buffer, out, 1.0, ceiling));
        buffer = std::move(out);
        report.loudnessLufs = measured;
        report.peakDbfs = samplePeakDbfs(buffer);
        return report;
    }
    // the limiter takes some loudness off, so the gain is corrected from what comes out
    double gainDb = settings.targetLufs - measured;
    StereoBuffer out;
    for (int pass = 0; pass < 4; ++pass) {
        double deepest = applyGainAndLimit(buffer, out, decibelsToGain(gainDb), ceiling);
        report.deepestLimitingDb = gainToDecibels(deepest);
        report.loudnessLufs = integratedLoudness(out);
        report.gainDb = gainDb;
        double error = settings.targetLufs - report.loudnessLufs;
        if (std::fabs(error) < 0.05) {
            break;
        }
        gainDb += error;
    }
    buffer = std::move(out);
    report.peakDbfs = samplePeakDbfs(buffer);
    return report;
}

}  // namespace quarvel
