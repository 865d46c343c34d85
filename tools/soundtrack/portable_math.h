// The few transcendental functions the synthesiser needs, written in plain double
// arithmetic so that every machine computes the same bits (libm results differ between versions).
#pragma once

#include <cmath>

namespace quarvel {

inline constexpr double pi = 3.14159265358979323846;
inline constexpr double ln2 = 0.69314718055994530942;
inline constexpr double ln10 = 2.30258509299404568402;

// sine for any argument: reduced to [-pi/2, pi/2] and summed as a Taylor series (error below 1e-11)
inline double portableSin(double x) {
    double turns = std::floor(x / (2.0 * pi) + 0.5);
    x -= turns * (2.0 * pi);
    if (x > 0.5 * pi) {
        x = pi - x;
    } else if (x < -0.5 * pi) {
        x = -pi - x;
    }
    double x2 = x * x;
    double series = 1.0 / 1307674368000.0;
    series = 1.0 / 6227020800.0 - x2 * series;
    series = 1.0 / 39916800.0 - x2 * series;
    series = 1.0 / 362880.0 - x2 * series;
    series = 1.0 / 5040.0 - x2 * series;
    series = 1.0 / 120.0 - x2 * series;
    series = 1.0 / 6.0 - x2 * series;
    series = 1.0 - x2 * series;
    return x * series;
}

inline double portableCos(double x) {
    return portableSin(x + 0.5 * pi);
}

inline double portableTan(double x) {
    return portableSin(x) / portableCos(x);
}

// e^x: scaled by a power of two (exact) after a Taylor series on [-ln2/2, ln2/2]
inline double portableExp(double x) {
    if (x < -700.0) {
        return 0.0;
    }
    if (x > 700.0) {
        x = 700.0;
    }
    double k = std::floor(x / ln2 + 0.5);
    double r = x - k * ln2;
    double series = 1.0;
    for (int n = 13; n >= 1; --n) {
        series = 1.0 + series * r / n;
    }
    return std::ldexp(series, static_cast<int>(k));
}

// natural logarithm of x > 0: mantissa in [sqrt(1/2), sqrt(2)) through the atanh series
inline double portableLog(double x) {
    if (!(x > 0.0)) {
        return -1e300;
    }
    int exponent = 0;
    double m = std::frexp(x, &exponent);
    if (m < 0.70710678118654752440) {
        m *= 2.0;
        exponent -= 1;
    }
    double s = (m - 1.0) / (m + 1.0);
    double s2 = s * s;
    double series = 1.0 / 21.0;
    for (int n = 19; n >= 1; n -= 2) {
        series = 1.0 / n + s2 * series;
    }
    return 2.0 * s * series + exponent * ln2;
}

inline double portablePow(double base, double exponent) {
    return portableExp(exponent * portableLog(base));
}

inline double decibelsToGain(double db) {
    return portableExp(db * ln10 / 20.0);
}

inline double gainToDecibels(double gain) {
    return 20.0 * portableLog(gain) / ln10;
}

inline double clampTo(double x, double lo, double hi) {
    return x < lo ? lo : (x > hi ? hi : x);
}

inline double smoothstep(double a, double b, double x) {
    double u = clampTo((x - a) / (b - a), 0.0, 1.0);
    return u * u * (3.0 - 2.0 * u);
}

inline double mixTo(double a, double b, double w) {
    return a * (1.0 - w) + b * w;
}

// equal-tempered pitch, A4 = 440 Hz at note 69
inline double noteToHz(double note) {
    return 440.0 * portableExp((note - 69.0) * ln2 / 12.0);
}

}  // namespace quarvel
