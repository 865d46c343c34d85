// How far a lossy video's frames are from the master's: the blurred picture's error and the
// share of the film grain kept.
#include "capture/video_measures.h"

#include <algorithm>
#include <cmath>

namespace quarvel {

namespace {

// The blur: two passes of an 8-pixel box, across and down, edges held.
constexpr int boxWidth = 8;
constexpr int boxPasses = 2;

// One box pass along a line of `count` values `step` apart, from `in` to `out`.
void boxLine(const float* in, float* out, int count, int step) {
    const int before = boxWidth / 2, after = boxWidth - before - 1;
    float sum = 0;
    for (int i = -before; i <= after; ++i) sum += in[std::clamp(i, 0, count - 1) * step];
    for (int i = 0; i < count; ++i) {
        out[i * step] = sum / boxWidth;
        sum += in[std::min(i + after + 1, count - 1) * step] - in[std::max(i - before, 0) * step];
    }
}

}  // namespace

VideoMeasures::VideoMeasures(int width, int height)
    : width_(width),
      height_(height),
      blurredReference_(std::size_t(width) * height * 3),
      blurredEncoded_(blurredReference_.size()),
      scratch_(blurredReference_.size()) {}

void VideoMeasures::blur(const uint8_t* rgb, std::vector<float>& out) {
    std::copy(rgb, rgb + out.size(), out.begin());
    const int row = width_ * 3;
    for (int pass = 0; pass < boxPasses; ++pass) {
        for (int y = 0; y < height_; ++y)
            for (int c = 0; c < 3; ++c) boxLine(&out[y * row + c], &scratch_[y * row + c], width_, 3);
        for (int x = 0; x < row; ++x) boxLine(&scratch_[x], &out[x], height_, row);
    }
}

void VideoMeasures::add(const uint8_t* reference, const uint8_t* encoded) {
    blur(reference, blurredReference_);
    blur(encoded, blurredEncoded_);
    double error = 0, referenceGrain = 0, encodedGrain = 0;
    for (std::size_t i = 0; i < blurredReference_.size(); ++i) {
        error += std::abs(blurredReference_[i] - blurredEncoded_[i]);
        const double r = reference[i] - blurredReference_[i], e = encoded[i] - blurredEncoded_[i];
        referenceGrain += r * r;
        encodedGrain += e * e;
    }
    errorSum_ += error / double(blurredReference_.size());
    referenceGrainSquares_ += referenceGrain;
    encodedGrainSquares_ += encodedGrain;
    ++frames_;
}

double VideoMeasures::lowPassedError() const {
    return frames_ == 0 ? 0 : errorSum_ / frames_;
}

double VideoMeasures::grainStrength() const {
    return referenceGrainSquares_ == 0 ? 1 : std::sqrt(encodedGrainSquares_ / referenceGrainSquares_);
}

}  // namespace quarvel
