// How a lossy encoding of the show compares with the frames it was made from, judged the way a
// viewer sees a grainy picture: the picture without its grain (both through the same blur), and
// the grain's strength. A plain mean error rewards encoding the grain itself, which is fresh noise
// in every frame; these two measures do not.
#pragma once

#include <cstdint>
#include <vector>

namespace quarvel {

class VideoMeasures {
public:
    VideoMeasures(int width, int height);

    // One frame of each, 8-bit RGB, rows in the same order.
    void add(const uint8_t* reference, const uint8_t* encoded);

    int frames() const { return frames_; }
    // Mean absolute difference of the two blurred pictures, in levels of 255.
    double lowPassedError() const;
    // The standard deviation of picture minus blur in the encoding, as a share of the reference's.
    double grainStrength() const;

private:
    void blur(const uint8_t* rgb, std::vector<float>& out);

    int width_, height_;
    int frames_ = 0;
    std::vector<float> blurredReference_, blurredEncoded_, scratch_;
    double errorSum_ = 0, referenceGrainSquares_ = 0, encodedGrainSquares_ = 0;
};

}  // namespace quarvel
