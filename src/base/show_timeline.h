// The show's timeline in one place: how long the run lasts, how far the picture trails the
// soundtrack, and the marks where the picture changes. The shaders take the marks from here: the
// build writes each ShowRamp and each number of seconds given as a literal into the GLSL
// constants of "timeline.glsl" (cmake/embed_shaders.cmake).
#pragma once

#include <cstdint>

namespace quarvel {

inline constexpr int32_t runLengthMs = 86'000;  // the last frame is the first with t >= this
inline constexpr int32_t clockLagMs = 50;       // the picture trails the audio by this much

// A change that the shaders ease in with smoothstep(begin, end, time), in seconds of the demo clock.
struct ShowRamp {
    double begin;
    double end;
};

// The same instant in milliseconds of the demo clock, rounded to the nearest.
constexpr int32_t clockMs(double seconds) {
    return static_cast<int32_t>(seconds * 1000.0 + (seconds < 0.0 ? -0.5 : 0.5));
}

namespace timeline {

// The disc jumps to a new place and size three times a cycle: as it starts, 4.0 s and 5.2 s in;
// each jump starts a pulse that fades over the rest of the cycle.
inline constexpr double cycleSeconds = 10.16;
inline constexpr double secondJumpSeconds = 4.0;
inline constexpr double thirdJumpSeconds = 5.2;

inline constexpr ShowRamp glitchIn{7.0, 9.0};           // the glitches begin: holes, a pull to a grid
inline constexpr ShowRamp glitchOut{19.0, 20.0};        // and end before the drop
inline constexpr ShowRamp drop{20.0, 21.0};             // the disc's strength rises, the trails stir
inline constexpr ShowRamp feedbackSpeedUp{20.1, 20.2};  // the feedback's time runs six times faster
inline constexpr ShowRamp middleIn{30.5, 30.6};         // the middle part: a faint disc, glitches again
inline constexpr ShowRamp middleOut{40.5, 40.7};        // and its end
inline constexpr ShowRamp pulseEnd{59.0, 62.0};         // the pulses give way to a steady disc
inline constexpr ShowRamp flowScale{63.0, 70.0};        // the flow field changes scale
inline constexpr ShowRamp swell{77.0, 82.0};            // the disc grows over the frame and is gone at 82 s
inline constexpr double endSeconds = runLengthMs / 1000.0;  // the run ends

}  // namespace timeline

}  // namespace quarvel
