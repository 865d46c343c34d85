// The song that the instruments in composition.cpp play: its grid, harmony, patterns and melodies,
// how loud each part is through the show's sections, and the mix. The values are in song.cpp;
// the sections are the picture's own, in base/show_timeline.h.
#pragma once

#include "base/show_timeline.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace quarvel::song {

// the band stops when the disc is gone; the echoes ring on
inline constexpr double cutSeconds = timeline::swell.end;
// the cycles that start before the cut: the picture's disc jumps at events A, B and C of each
inline constexpr int cycles = static_cast<int>(cutSeconds / timeline::cycleSeconds) + 1;

// the rhythmic grid, restarted at every event A so that B and C land on it
inline constexpr double stepSeconds = 0.2;  // sixteenths at 75 bpm
inline constexpr int stepsPerCycle = 50;

// MIDI note numbers: the bass's root and four tones for the pad, keys and melodies above it
struct Chord {
    int root;
    std::array<int, 4> tones;
};

// two chords a cycle, changing at events A and C
extern const std::array<std::array<Chord, 2>, cycles> progression;

// where a part sits in the mix: what it sends to the reverb and to the delay, and its place from
// -1 (left) to 1 (right) at constant power; a part with no place plays at full level on both sides
struct Channel {
    double reverb;
    double delay;
    std::optional<double> pan = std::nullopt;
};

struct Part {
    double level;
    Channel channel;
};

// one hit per event: a kick at A, a snare at B, a tom at C
struct Drums {
    Part kick, snare, tom;
    // how hard they hit through the sections: from before the drop to after it, less in the
    // middle part, the level of the sustained part, and how much the swell adds
    double beforeDrop, afterDrop, middleDip, sustained, swellBoost;
};
extern const Drums drums;

// a bell at every event B: a chord tone (0 to 3), octaves up, with its own level and place
struct BellNote {
    int tone;
    int octaves;
    double level;
    double pan;
};
struct Bells {
    std::array<BellNote, 3> notes;
    Channel channel;  // the sends; each note has its own place
};
extern const Bells bells;

// the electric piano at every event C: the whole chord, spread from `firstPan` by `panStep`
struct Keys {
    double level;
    double firstPan, panStep;
    Channel channel;
};
extern const Keys keys;

// the pad's bed of saws: brighter after the drop and in the middle part, blooming at every event A
struct Pad {
    double gain;
    Channel channel;
    double cutoffBeforeDrop, cutoffAfterDrop, cutoffMiddle;  // Hz
    double fadeInLevel, fadeInSeconds;                       // the opening, from silence
    double afterDrop, middleLift;                            // the bed's level
    double bloomBeforeDrop, bloomAfterDrop, bloomMiddleDip;  // how much each bloom adds
    double sustained, swellBoost;
};
extern const Pad pad;

// one step of the bass's eight-step pattern: a velocity of 0 rests, `interval` is above the root
struct BassStep {
    double velocity;
    int interval;
};
// one step of the arpeggio's eight-step pattern: a chord tone (0 to 3; 4 is tone 0 an octave up)
struct PluckStep {
    int tone;
    double velocity;
    double pan;
};
// bass and arpeggio play after the drop, outside the middle part, until the texture takes over;
// the bass leaves the event steps to the drums, where the arpeggio is accented
struct Groove {
    Part bass;
    std::array<BassStep, 8> bassPattern;
    double pluckLevel;
    Channel pluckChannel;  // the sends; each step has its own place
    int pluckTranspose;    // semitones above the chord
    double pluckAccent;    // the velocity on an event step
    std::array<PluckStep, 8> pluckPattern;
};
extern const Groove groove;

// a held note on the grid: in cycle `cycle`, from step `step`, for `steps` steps
struct Note {
    int cycle;
    int step;
    int steps;
    int pitch;
};
struct Melody {
    std::span<const Note> notes;
    double brightness;  // 0 a sine, 1 mostly saws
    double level;
};
// the lead after the middle part, the whistle inside it
struct Melodies {
    Melody lead, whistle;
    Channel channel;
    double releaseSeconds;
};
extern const Melodies melodies;

// the bit-crushed bursts under the glitches, on notes of `scale`
struct Glitch {
    Part part;  // each burst has its own place
    std::span<const int> scale;
};
extern const Glitch glitch;

// filtered noise that rises over `span` from `lowHz` to `highHz`
struct Riser {
    ShowRamp span;
    double lowHz, highHz;
    double level;
    uint32_t seed;
};
// the build into the drop and into the swell, the drop itself, and a roll of toms that speeds up
// under the swell until just before the cut
struct Builds {
    Riser intoDrop, intoSwell;
    Channel risers;
    Channel drop;
    double rollInterval, rollSpeedUp;  // seconds between the first two toms, and each next gap's share
    double rollLevel, rollSwellLevel;
    double rollStopsBeforeCut;
    uint32_t rollSeed;
};
extern const Builds builds;

// the drone and grain cloud that take over from the pulses, through a filter that sweeps with
// the picture's flow field
struct Texture {
    Channel channel;
    double swellBoost;
    double sweepFromHz, sweepRange, sweepSwellBoost;
};
extern const Texture texture;

// the reverb and the delay that every part sends to, and how much of each comes back
struct Effects {
    double roomSize, damping;
    int delaySteps;
    double delayFeedback, delayDampingHz;
    double echoIntoRoom, echoReturn, roomReturn;
};
extern const Effects effects;

}  // namespace quarvel::song
