// quarvel-video-measures W H REFERENCE.rgb ENCODED.rgb: the two measures of VideoMeasures over
// every frame both raw RGB files hold (ffmpeg's rawvideo rgb24), printed as
// "N frames: low-passed E levels, grain G%". For the capture's tests and its benchmark.
#include "capture/video_measures.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: quarvel-video-measures WIDTH HEIGHT REFERENCE.rgb ENCODED.rgb\n");
        return 2;
    }
    const int width = std::atoi(argv[1]), height = std::atoi(argv[2]);
    std::FILE* reference = std::fopen(argv[3], "rb");
    std::FILE* encoded = std::fopen(argv[4], "rb");
    if (width <= 0 || height <= 0 || reference == nullptr || encoded == nullptr) {
        std::fprintf(stderr, "quarvel-video-measures: bad size or unreadable file\n");
        return 2;
    }
    quarvel::VideoMeasures measures(width, height);
    std::vector<uint8_t> a(std::size_t(width) * height * 3), b(a.size());
    while (std::fread(a.data(), 1, a.size(), reference) == a.size() &&
           std::fread(b.data(), 1, b.size(), encoded) == b.size())
        measures.add(a.data(), b.data());
    if (measures.frames() == 0) {
        std::fprintf(stderr, "quarvel-video-measures: no whole frame in both files\n");
        return 1;
    }
    std::printf("%d frames: low-passed %.2f levels, grain %.0f%%\n", measures.frames(),
                measures.lowPassedError(), measures.grainStrength() * 100);
    return 0;
}
