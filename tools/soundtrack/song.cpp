// The song: every note, pattern, level and send of the soundtrack. Times are the picture's
// (base/show_timeline.h); song.h says what each value means.
#include "soundtrack/song.h"

#include <algorithm>

namespace quarvel::song {

namespace {

// D minor
constexpr Chord dm9{38, {53, 57, 60, 64}};
constexpr Chord bbMaj9{34, {53, 57, 60, 62}};
constexpr Chord gm9{31, {53, 57, 58, 62}};
constexpr Chord a7Sus4{33, {52, 55, 57, 62}};
constexpr Chord fMaj9{41, {57, 60, 64, 67}};
constexpr Chord ebMaj9{39, {55, 58, 62, 69}};

constexpr Note leadNotes[] = {
    {4, 2, 4, 69},  {4, 6, 2, 72},  {4, 8, 10, 74},  {4, 20, 4, 76}, {4, 24, 2, 77},
    {4, 26, 8, 74}, {4, 34, 4, 72}, {4, 38, 10, 69}, {5, 2, 4, 70},  {5, 6, 2, 69},
    {5, 8, 10, 67}, {5, 20, 4, 69}, {5, 24, 2, 70},  {5, 26, 8, 69}, {5, 34, 4, 67},
    {5, 38, 4, 64}, {5, 42, 6, 65}, {5, 48, 2, 64},  {6, 0, 25, 62},
};

constexpr Note whistleNotes[] = {
    {3, 4, 8, 81}, {3, 12, 8, 79}, {3, 20, 6, 76}, {3, 26, 10, 74}, {3, 36, 6, 77}, {3, 42, 7, 74},
};

constexpr int pentatonic[] = {74, 77, 79, 81, 84, 86, 89, 91, 93, 96};

}  // namespace

constexpr std::array<std::array<Chord, 2>, cycles> progression{{
    {dm9, bbMaj9},
    {gm9, a7Sus4},
    {dm9, bbMaj9},
    {fMaj9, ebMaj9},  // the middle part turns to the major side
    {dm9, bbMaj9},
    {gm9, a7Sus4},
    {dm9, bbMaj9},
    {gm9, a7Sus4},  // the swell sits on the dominant
    {dm9, dm9},
}};

constexpr Drums drums{
    .kick = {0.32, {.reverb = 0.05, .delay = 0.0}},
    .snare = {0.22, {.reverb = 0.4, .delay = 0.05}},
    .tom = {0.25, {.reverb = 0.25, .delay = 0.12, .pan = 0.25}},  // a little to the right
    .beforeDrop = 0.6,
    .afterDrop = 1.0,
    .middleDip = 0.45,
    .sustained = 0.65,
    .swellBoost = 0.3,
};

constexpr Bells bells{
    .notes = {{{1, 1, 0.045, -0.55}, {3, 1, 0.045, 0.55}, {3, 2, 0.025, 0.1}}},
    .channel = {.reverb = 0.45, .delay = 0.25},
};

constexpr Keys keys{
    .level = 0.05,
    .firstPan = -0.45,
    .panStep = 0.3,
    .channel = {.reverb = 0.3, .delay = 0.2},
};

constexpr Pad pad{
    .gain = 0.05,
    .channel = {.reverb = 0.35, .delay = 0.0},
    .cutoffBeforeDrop = 700.0,
    .cutoffAfterDrop = 1800.0,
    .cutoffMiddle = 3200.0,
    .fadeInLevel = 0.35,
    .fadeInSeconds = 2.0,
    .afterDrop = 0.3,
    .middleLift = 0.1,
    .bloomBeforeDrop = 0.5,
    .bloomAfterDrop = 0.6,
    .bloomMiddleDip = 0.3,
    .sustained = 0.5,
    .swellBoost = 0.5,
};

constexpr Groove groove{
    .bass = {0.16, {.reverb = 0.02, .delay = 0.0}},
    .bassPattern = {{{1.0, 0}, {0.0, 0}, {0.75, 0}, {0.0, 0}, {1.0, 0}, {0.0, 0}, {0.75, 12}, {0.0, 0}}},
    .pluckLevel = 0.075,
    .pluckChannel = {.reverb = 0.15, .delay = 0.35},
    .pluckTranspose = 12,
    .pluckAccent = 1.0,
    .pluckPattern = {{{0, 0.6, -0.35},
                      {1, 0.45, 0.35},
                      {2, 0.6, -0.35},
                      {3, 0.45, 0.35},
                      {4, 0.6, -0.35},
                      {3, 0.45, 0.35},
                      {2, 0.6, -0.35},
                      {1, 0.45, 0.35}}},
};

constexpr Melodies melodies{
    .lead = {leadNotes, 0.5, 0.06},
    .whistle = {whistleNotes, 0.1, 0.045},
    .channel = {.reverb = 0.35, .delay = 0.3},
    .releaseSeconds = 0.25,
};

constexpr Glitch glitch{
    .part = {0.08, {.reverb = 0.15, .delay = 0.2}},
    .scale = pentatonic,
};

constexpr Builds builds{
    .intoDrop = {{timeline::drop.begin - 3.0, timeline::drop.begin}, 300.0, 7000.0, 0.12, 1717},
    .intoSwell = {timeline::swell, 400.0, 9000.0, 0.05, 7777},
    .risers = {.reverb = 0.3, .delay = 0.0},
    .drop = {.reverb = 0.4, .delay = 0.0},
    .rollInterval = 0.45,
    .rollSpeedUp = 0.93,
    .rollLevel = 0.04,
    .rollSwellLevel = 0.08,
    .rollStopsBeforeCut = 0.05,
    .rollSeed = 7700,
};

constexpr Texture texture{
    .channel = {.reverb = 0.5, .delay = 0.1},
    .swellBoost = 0.5,
    .sweepFromHz = 350.0,
    .sweepRange = 20.0,
    .sweepSwellBoost = 0.7,
};

constexpr Effects effects{
    .roomSize = 0.86,
    .damping = 0.4,
    .delaySteps = 3,
    .delayFeedback = 0.42,
    .delayDampingHz = 3500.0,
    .echoIntoRoom = 0.3,
    .echoReturn = 0.7,
    .roomReturn = 0.9,
};

// what the instruments rely on, checked where the song is written
constexpr bool onTheGrid(std::span<const Note> notes) {
    return std::ranges::all_of(notes, [](const Note& note) {
        return note.cycle >= 0 && note.cycle < cycles && note.step >= 0 && note.step < stepsPerCycle &&
               note.steps > 0;
    });
}
static_assert(onTheGrid(melodies.lead.notes) && onTheGrid(melodies.whistle.notes),
              "a melody note starts in a cycle of the show, on a step of its grid, and lasts a step or more");
static_assert(std::ranges::all_of(bells.notes,
                                  [](const BellNote& note) { return note.tone >= 0 && note.tone < 4; }),
              "a bell plays one of the chord's four tones");
static_assert(std::ranges::all_of(groove.pluckPattern,
                                  [](const PluckStep& step) { return step.tone >= 0 && step.tone <= 4; }),
              "the arpeggio plays one of the chord's four tones, or the first an octave up");
static_assert(!glitch.scale.empty(), "the glitch bursts need a note to play");

}  // namespace quarvel::song
