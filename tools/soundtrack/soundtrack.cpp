// Runs the three stages of the soundtrack in order and times them.
#include "soundtrack/soundtrack.h"

#include "soundtrack/composition.h"

#include <chrono>

namespace quarvel {
namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

Soundtrack produceSoundtrack() {
    Soundtrack soundtrack;
    auto start = std::chrono::steady_clock::now();
    soundtrack.samples = renderTrack();
    soundtrack.renderSeconds = secondsSince(start);

    start = std::chrono::steady_clock::now();
    soundtrack.master = masterTrack(soundtrack.samples);
    soundtrack.masterSeconds = secondsSince(start);

    start = std::chrono::steady_clock::now();
    soundtrack.encoded = encodeMp3(soundtrack.samples, soundtrack.mp3);
    soundtrack.encodeSeconds = secondsSince(start);
    return soundtrack;
}

}  // namespace quarvel
