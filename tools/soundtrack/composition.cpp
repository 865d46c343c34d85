// The score of the soundtrack and the instruments that play it. Times are seconds of
// the show's clock; every musical event sits at the second where the picture changes.
#include "soundtrack/composition.h"

#include "soundtrack/portable_math.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace quarvel {
namespace {

constexpr double kDt = 1.0 / sampleRate;

// the picture's cycle: events A, B and C at 0, 4.0 and 5.2 s into each 10.16 s
constexpr double kCycle = 10.16;
constexpr double kEventB = 4.0;
constexpr double kEventC = 5.2;
constexpr int kCycles = 9;  // cycles that start before the cut

// rhythmic grid of sixteenths at 75 bpm, restarted at every event A so that B and C land on it
constexpr double kStep = 0.2;
constexpr int kStepsPerCycle = 50;

constexpr double kCut = 82.0;

size_t toFrame(double seconds) {
    return static_cast<size_t>(std::llround(seconds * sampleRate));
}

double frameTime(size_t frame) {
    return static_cast<double>(frame) / sampleRate;
}

// ---- the timeline, the same ramps as the picture's

// 1 inside the contrasting middle part
double middlePart(double t) {
    return smoothstep(30.5, 30.6, t) - smoothstep(40.5, 40.7, t);
}

double glitchEnvelope(double t) {
    return smoothstep(7.0, 9.0, t) - smoothstep(19.0, 20.0, t) + middlePart(t);
}

double dropped(double t) {
    return smoothstep(20.0, 21.0, t);
}

// pulses give way to the sustained texture
double sustained(double t) {
    return smoothstep(59.0, 62.0, t);
}

double swell(double t) {
    return smoothstep(77.0, 82.0, t);
}

// bass, arpeggio and melody play after the drop, outside the middle part, until the texture takes over
double fullBand(double t) {
    return dropped(t) * (1.0 - middlePart(t)) * (1.0 - sustained(t));
}

// a 2 ms ramp at the cut keeps it from clicking
double cutGate(double t) {
    return t < kCut ? 1.0 : clampTo(1.0 - (t - kCut) / 0.002, 0.0, 1.0);
}

// the echoes after the cut fade out well before the end
double tailFade(double t) {
    return 1.0 - smoothstep(83.0, 85.8, t);
}

// the slow sweep of the sustained texture as the flow field changes scale
double sweepCutoff(double t) {
    return 350.0 * portablePow(20.0, smoothstep(63.0, 70.0, t)) * (1.0 + 0.7 * swell(t));
}

// strength of the hits, following the disc: light before the drop, soft in the middle and at the end
double hitLevel(double t) {
    double level = mixTo(0.6, 1.0, dropped(t)) - 0.45 * middlePart(t);
    level = mixTo(level, 0.65, sustained(t));
    return level * (1.0 + 0.3 * swell(t));
}

// the picture's pulse for one event: 1 at the event, falling to 0 just before its next occurrence
double cyclePulse(double sinceEvent, int power) {
    double x = 1.0 - sinceEvent / kCycle;
    double result = 1.0;
    for (int i = 0; i < power; ++i) {
        result *= x;
    }
    return result;
}

// ---- the harmony: D minor, two chords per cycle, changing at events A and C

struct Chord {
    int root;
    std::array<int, 4> tones;
};

constexpr Chord kDm9{38, {53, 57, 60, 64}};
constexpr Chord kBbMaj9{34, {53, 57, 60, 62}};
constexpr Chord kGm9{31, {53, 57, 58, 62}};
constexpr Chord kA7Sus4{33, {52, 55, 57, 62}};
constexpr Chord kFMaj9{41, {57, 60, 64, 67}};
constexpr Chord kEbMaj9{39, {55, 58, 62, 69}};

constexpr std::array<std::array<Chord, 2>, kCycles> kProgression{{
    {kDm9, kBbMaj9},
    {kGm9, kA7Sus4},
    {kDm9, kBbMaj9},
    {kFMaj9, kEbMaj9},  // the middle part turns to the major side
    {kDm9, kBbMaj9},
    {kGm9, kA7Sus4},
    {kDm9, kBbMaj9},
    {kGm9, kA7Sus4},  // the swell sits on the dominant
    {kDm9, kDm9},
}};

int cycleAt(double t) {
    int cycle = static_cast<int>(std::floor(t / kCycle));
    return cycle < 0 ? 0 : (cycle >= kCycles ? kCycles - 1 : cycle);
}

const Chord& chordAt(double t) {
    int cycle = cycleAt(t);
    // the small allowance keeps a time computed as cycle start + 5.2 on the second chord
    return kProgression[cycle][t - cycle * kCycle >= kEventC - 1e-6 ? 1 : 0];
}

enum class EventKind { A, B, C };

struct Event {
    double time;
    EventKind kind;
    int cycle;
};

std::vector<Event> eventsBeforeCut() {
    std::vector<Event> events;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        double start = cycle * kCycle;
        for (auto [offset, kind] : {std::pair{0.0, EventKind::A}, std::pair{kEventB, EventKind::B},
                                    std::pair{kEventC, EventKind::C}}) {
            if (start + offset < kCut) {
                events.push_back({start + offset, kind, cycle});
            }
        }
    }
    return events;
}

struct Pan {
    double left, right;
};

// constant power: -3 dB per side in the centre
Pan panOf(double position) {
    double angle = (clampTo(position, -1.0, 1.0) + 1.0) * 0.25 * pi;
    return {portableCos(angle), portableSin(angle)};
}

// the dry signal and the two effect sends every instrument writes into
struct Mix {
    StereoBuffer dry = makeStereoBuffer(trackFrames);
    StereoBuffer reverbSend = makeStereoBuffer(trackFrames);
    StereoBuffer delaySend = makeStereoBuffer(trackFrames);

    void add(size_t frame, double left, double right, double reverb, double delay) {
        if (frame >= trackFrames) {
            return;
        }
        dry.left[frame] += static_cast<float>(left);
        dry.right[frame] += static_cast<float>(right);
        reverbSend.left[frame] += static_cast<float>(left * reverb);
        reverbSend.right[frame] += static_cast<float>(right * reverb);
        delaySend.left[frame] += static_cast<float>(left * delay);
        delaySend.right[frame] += static_cast<float>(right * delay);
    }
};

// ---- percussion: one hit per event

// event A: a deep kick with a falling pitch and a bright tick on top
void addKick(Mix& mix, double time, double level, uint32_t seed) {
    Noise noise = seededNoise(seed);
    size_t start = toFrame(time);
    double phase = 0.0, sweep = 1.0, amp = 1.0, tick = 1.0, previous = 0.0;
    double sweepDecay = decayFactor(0.035), ampDecay = decayFactor(0.26), tickDecay = decayFactor(0.003);
    for (size_t n = 0; n < toFrame(1.8); ++n) {
        double body = sineOfTurns(phase) * amp;
        phase += (43.0 + 130.0 * sweep) * kDt;
        phase -= std::floor(phase);
        double white = noise.next();
        double crack = 0.5 * (white - previous) * tick;
        previous = white;
        double v = level * softClip(1.4 * (body + 0.6 * crack)) / 1.4;
        mix.add(start + n, v, v, 0.05, 0.0);
        sweep *= sweepDecay;
        amp *= ampDecay;
        tick *= tickDecay;
    }
}

// event B: a snare, band-passed noise over a short tone, wide and wet
void addSnare(Mix& mix, double time, double level, uint32_t seed) {
    Noise noiseLeft = seededNoise(seed), noiseRight = seededNoise(seed + 1);
    Svf bandLeft, bandRight;
    bandLeft.setup(1900.0, 0.9);
    bandRight.setup(2100.0, 0.9);
    size_t start = toFrame(time);
    double phase = 0.0, body = 1.0, rattle = 1.0;
    double bodyDecay = decayFactor(0.055), rattleDecay = decayFactor(0.1);
    for (size_t n = 0; n < toFrame(1.0); ++n) {
        double tone = sineOfTurns(phase) * body;
        phase += (172.0 + 30.0 * body) * kDt;
        phase -= std::floor(phase);
        double attack = n < 44 ? n / 44.0 : 1.0;
        double left = tone * 0.6 + 1.6 * bandLeft.tick(noiseLeft.next()).band * rattle;
        double right = tone * 0.6 + 1.6 * bandRight.tick(noiseRight.next()).band * rattle;
        mix.add(start + n, level * attack * left, level * attack * right, 0.4, 0.05);
        body *= bodyDecay;
        rattle *= rattleDecay;
    }
}

// event C: a tuned tom with a metallic ring, a little to the right
void addTom(Mix& mix, double time, double level, uint32_t seed) {
    Noise noise = seededNoise(seed);
    size_t start = toFrame(time);
    Pan pan = panOf(0.25);
    double phase = 0.0, ring1 = 0.0, ring2 = 0.0, sweep = 1.0, amp = 1.0, metal = 1.0, tick = 1.0;
    double sweepDecay = decayFactor(0.05), ampDecay = decayFactor(0.22), metalDecay = decayFactor(0.07),
           tickDecay = decayFactor(0.002);
    for (size_t n = 0; n < toFrame(1.4); ++n) {
        double v = sineOfTurns(phase) * amp + 0.22 * metal * (sineOfTurns(ring1) + 0.7 * sineOfTurns(ring2)) +
                   0.8 * noise.next() * tick;
        phase += (105.0 + 60.0 * sweep) * kDt;
        phase -= std::floor(phase);
        ring1 += 547.0 * kDt;
        ring1 -= std::floor(ring1);
        ring2 += 1174.0 * kDt;
        ring2 -= std::floor(ring2);
        v *= level;
        mix.add(start + n, v * pan.left, v * pan.right, 0.25, 0.12);
        sweep *= sweepDecay;
        amp *= ampDecay;
        metal *= metalDecay;
        tick *= tickDecay;
    }
}

void addHits(Mix& mix, const std::vector<Event>& events) {
    uint32_t index = 0;
    for (const Event& event : events) {
        double level = hitLevel(event.time);
        uint32_t seed = 1000 + index++;
        switch (event.kind) {
            case EventKind::A: addKick(mix, event.time, 0.32 * level, seed); break;
            case EventKind::B: addSnare(mix, event.time, 0.22 * level, seed); break;
            case EventKind::C: addTom(mix, event.time, 0.25 * level, seed); break;
        }
    }
}

// ---- the pulse layers: each event's chord decays over its cycle like the picture's pulse

// event B: FM bells, the fastest decay (fifth power)
void addBells(Mix& mix, const Event& event) {
    const Chord& chord = chordAt(event.time);
    const std::array<int, 3> notes{chord.tones[1] + 12, chord.tones[3] + 12, chord.tones[3] + 24};
    const std::array<double, 3> pans{-0.55, 0.55, 0.1};
    size_t start = toFrame(event.time);
    for (size_t k = 0; k < notes.size(); ++k) {
        double hz = noteToHz(notes[k]);
        Pan pan = panOf(pans[k]);
        double carrier = 0.0, modulator = 0.0;
        double gain = k == 2 ? 0.025 : 0.045;
        for (size_t n = 0; n < toFrame(kCycle); ++n) {
            double since = n * kDt;
            double t = event.time + since;
            double env = cyclePulse(since, 5) * (n < 88 ? n / 88.0 : 1.0);
            double fade = 1.0 - sustained(t);
            if (env * fade < 1e-4) {
                break;
            }
            double index = 0.15 + 1.2 * env * env;
            double v = sineOfTurns(carrier + index * sineOfTurns(modulator) / (2.0 * pi)) * env * fade * gain;
            carrier += hz * kDt;
            carrier -= std::floor(carrier);
            modulator += 3.5 * hz * kDt;
            modulator -= std::floor(modulator);
            mix.add(start + n, v * pan.left, v * pan.right, 0.45, 0.25);
        }
    }
}

// event C: an electric piano chord, decaying with the fourth power
void addKeys(Mix& mix, const Event& event) {
    const Chord& chord = chordAt(event.time);
    size_t start = toFrame(event.time);
    for (size_t k = 0; k < chord.tones.size(); ++k) {
        double hz = noteToHz(chord.tones[k]);
        Pan pan = panOf(-0.45 + 0.3 * k);
        double carrier = 0.0, modulator = 0.0, tine = 0.0, tineLevel = 1.0;
        double tineDecay = decayFactor(0.015);
        for (size_t n = 0; n < toFrame(kCycle); ++n) {
            double since = n * kDt;
            double t = event.time + since;
            double env = cyclePulse(since, 4) * (n < 88 ? n / 88.0 : 1.0);
            double fade = 1.0 - sustained(t);
            if (env * fade < 1e-4) {
                break;
            }
            double index = 0.1 + 1.1 * env * env + 0.8 * tineLevel * sineOfTurns(tine);
            double v = sineOfTurns(carrier + index * sineOfTurns(modulator) / (2.0 * pi)) * env * fade * 0.05;
            carrier += hz * kDt;
            carrier -= std::floor(carrier);
            modulator += hz * kDt;
            modulator -= std::floor(modulator);
            tine += 14.0 * hz * kDt;
            tine -= std::floor(tine);
            tineLevel *= tineDecay;
            mix.add(start + n, v * pan.left, v * pan.right, 0.3, 0.2);
        }
    }
}

// ---- the pad: a bed of detuned saws that blooms at every event A (cube decay) and later holds

double padCutoff(double t) {
    double cutoff = mixTo(700.0, 1800.0, dropped(t));
    cutoff = mixTo(cutoff, 3200.0, middlePart(t));
    return mixTo(cutoff, sweepCutoff(t), sustained(t));
}

double padLevel(double t, double bloom) {
    double base = mixTo(0.35 * smoothstep(0.0, 2.0, t), 0.3, dropped(t)) + 0.1 * middlePart(t);
    double depth = mixTo(0.5, 0.6, dropped(t)) - 0.3 * middlePart(t);
    return mixTo(base + depth * bloom, 0.5, sustained(t)) * (1.0 + 0.5 * swell(t));
}

StereoBuffer renderPad() {
    StereoBuffer pad = makeStereoBuffer(trackFrames);
    constexpr std::array<double, 3> kDetune{0.9960, 1.0, 1.0040};
    std::array<double, 4> hz{};
    std::array<std::array<double, 3>, 4> phases{};
    for (size_t v = 0; v < 4; ++v) {
        hz[v] = noteToHz(kDm9.tones[v]);
        for (size_t s = 0; s < 3; ++s) {
            phases[v][s] = 0.13 * v + 0.37 * s;  // spread start phases: no pile-up at the first sample
        }
    }
    Svf filterLeft, filterRight;
    OnePole levelSmoother;
    levelSmoother.setHz(25.0);
    double glide = 1.0 - decayFactor(0.04);
    std::array<double, 4> target = hz;
    double level = 0.0;
    for (size_t i = 0; i < trackFrames; ++i) {
        double t = frameTime(i);
        if (i % 32 == 0) {
            const Chord& chord = chordAt(t);
            for (size_t v = 0; v < 4; ++v) {
                target[v] = noteToHz(chord.tones[v]);
            }
            double bloom = cyclePulse(t - cycleAt(t) * kCycle, 3) * (1.0 - sustained(t));
            double cutoff = padCutoff(t) * (1.0 + 1.5 * bloom);
            filterLeft.setup(cutoff, 0.8);
            filterRight.setup(cutoff * 1.05, 0.8);
            level = padLevel(t, bloom);
        }
        double left = 0.0, right = 0.0;
        for (size_t v = 0; v < 4; ++v) {
            hz[v] += (target[v] - hz[v]) * glide;
            std::array<double, 3> saws{};
            for (size_t s = 0; s < 3; ++s) {
                double increment = hz[v] * kDetune[s] * kDt;
                saws[s] = sawOfTurns(phases[v][s], increment);
                phases[v][s] += increment;
                phases[v][s] -= std::floor(phases[v][s]);
            }
            left += saws[0] + 0.5 * saws[1];
            right += saws[2] + 0.5 * saws[1];
        }
        double gain = levelSmoother.lowpass(level) * 0.05;
        pad.left[i] = static_cast<float>(filterLeft.tick(left).low * gain);
        pad.right[i] = static_cast<float>(filterRight.tick(right).low * gain);
    }
    return pad;
}

// ---- bass and arpeggio on the grid, after the drop

void addBassNote(Mix& mix, double time, double hz, double velocity) {
    size_t start = toFrame(time);
    Svf filter;
    double saw = 0.0, sub = 0.0, amp = 1.0, bright = 1.0;
    double ampDecay = decayFactor(0.3), brightDecay = decayFactor(0.08);
    size_t length = toFrame(0.36), release = toFrame(0.02);
    for (size_t n = 0; n < length + release; ++n) {
        if (n % 16 == 0) {
            filter.setup(180.0 + 1500.0 * bright * bright * velocity, 1.1);
        }
        double gate =
            n < 132 ? n / 132.0 : (n < length ? 1.0 : 1.0 - static_cast<double>(n - length) / release);
        double v = filter.tick(sawOfTurns(saw, hz * kDt)).low + 0.8 * sineOfTurns(sub);
        saw += hz * kDt;
        saw -= std::floor(saw);
        sub += hz * kDt;
        sub -= std::floor(sub);
        v *= 0.16 * velocity * amp * gate * fullBand(time);
        mix.add(start + n, v, v, 0.02, 0.0);
        amp *= ampDecay;
        bright *= brightDecay;
    }
}

void addPluck(Mix& mix, double time, double hz, double velocity, double position) {
    size_t start = toFrame(time);
    Svf filter;
    Pan pan = panOf(position);
    double saw = 0.0, octave = 0.0, amp = 1.0, bright = 1.0;
    double ampDecay = decayFactor(0.12), brightDecay = decayFactor(0.07);
    size_t length = toFrame(0.19), release = toFrame(0.012);
    double level = 0.075 * velocity * fullBand(time);
    for (size_t n = 0; n < length + release; ++n) {
        if (n % 16 == 0) {
            filter.setup(450.0 + 3800.0 * bright * velocity, 1.4);
        }
        double gate =
            n < 66 ? n / 66.0 : (n < length ? 1.0 : 1.0 - static_cast<double>(n - length) / release);
        double v = filter.tick(sawOfTurns(saw, hz * kDt) + 0.3 * sawOfTurns(octave, 2.0 * hz * kDt)).low;
        saw += hz * kDt;
        saw -= std::floor(saw);
        octave += 2.0 * hz * kDt;
        octave -= std::floor(octave);
        v *= level * amp * gate;
        mix.add(start + n, v * pan.left, v * pan.right, 0.15, 0.35);
        amp *= ampDecay;
        bright *= brightDecay;
    }
}

bool isEventStep(int step) {
    return step == 0 || step == 20 || step == 26;
}

void addGroove(Mix& mix) {
    constexpr std::array<int, 8> kArpOrder{0, 1, 2, 3, 4, 3, 2, 1};
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        for (int step = 0; step < kStepsPerCycle; ++step) {
            double time = cycle * kCycle + step * kStep;
            if (fullBand(time) < 1e-3 || time >= kCut) {
                continue;
            }
            const Chord& chord = chordAt(time + 1e-6);
            // the bass leaves the event steps to the hits and answers them
            if (step % 2 == 0 && !isEventStep(step)) {
                int note = chord.root + (step % 8 == 6 ? 12 : 0);
                addBassNote(mix, time, noteToHz(note), step % 4 == 0 ? 1.0 : 0.75);
            }
            int tone = kArpOrder[step % 8];
            int note = (tone < 4 ? chord.tones[tone] : chord.tones[0] + 12) + 12;
            double velocity = isEventStep(step) ? 1.0 : (step % 2 == 0 ? 0.6 : 0.45);
            addPluck(mix, time, noteToHz(note), velocity, step % 2 == 0 ? -0.35 : 0.35);
        }
    }
}

// ---- melodies: a lead after the middle part, a whistle inside it

struct Note {
    int cycle;
    int step;
    int steps;
    int pitch;
};

constexpr std::array<Note, 19> kLead{{
    {4, 2, 4, 69},  {4, 6, 2, 72},  {4, 8, 10, 74},  {4, 20, 4, 76}, {4, 24, 2, 77},
    {4, 26, 8, 74}, {4, 34, 4, 72}, {4, 38, 10, 69}, {5, 2, 4, 70},  {5, 6, 2, 69},
    {5, 8, 10, 67}, {5, 20, 4, 69}, {5, 24, 2, 70},  {5, 26, 8, 69}, {5, 34, 4, 67},
    {5, 38, 4, 64}, {5, 42, 6, 65}, {5, 48, 2, 64},  {6, 0, 25, 62},
}};

constexpr std::array<Note, 6> kWhistle{{
    {3, 4, 8, 81},
    {3, 12, 8, 79},
    {3, 20, 6, 76},
    {3, 26, 10, 74},
    {3, 36, 6, 77},
    {3, 42, 7, 74},
}};

void addLeadNote(Mix& mix, const Note& note, double brightness, double level) {
    double time = note.cycle * kCycle + note.step * kStep;
    double hz = noteToHz(note.pitch);
    size_t start = toFrame(time);
    size_t length = toFrame(note.steps * kStep), release = toFrame(0.25);
    Svf filter;
    filter.setup(900.0 + 2200.0 * brightness, 0.7);
    double sawA = 0.0, sawB = 0.0, sine = 0.0, vibrato = 0.0, amp = 0.0;
    double attack = 1.0 - decayFactor(0.03), releaseDecay = decayFactor(0.07);
    for (size_t n = 0; n < length + release; ++n) {
        double since = n * kDt;
        double depth = 0.12 * smoothstep(0.25, 0.7, since);
        double bend = portableExp(depth * sineOfTurns(vibrato) * ln2 / 12.0);
        vibrato += 5.2 * kDt;
        double f = hz * bend;
        double tone = brightness * (sawOfTurns(sawA, 0.997 * f * kDt) + sawOfTurns(sawB, 1.003 * f * kDt)) +
                      (1.6 - brightness) * sineOfTurns(sine);
        sawA += 0.997 * f * kDt;
        sawA -= std::floor(sawA);
        sawB += 1.003 * f * kDt;
        sawB -= std::floor(sawB);
        sine += f * kDt;
        sine -= std::floor(sine);
        amp = n < length ? amp + (1.0 - amp) * attack : amp * releaseDecay;
        double v = filter.tick(tone).low * amp * level;
        mix.add(start + n, v, v, 0.35, 0.3);
    }
}

void addMelodies(Mix& mix) {
    for (const Note& note : kLead) {
        addLeadNote(mix, note, 0.5, 0.06);
    }
    for (const Note& note : kWhistle) {
        addLeadNote(mix, note, 0.1, 0.045);
    }
}

// ---- the glitch texture: a new bit-crushed burst every 0.2 s, on the picture's glitch grid

// hits cut through: the texture ducks around every event
double eventDuck(double t, const std::vector<Event>& events) {
    double duck = 1.0;
    for (const Event& event : events) {
        double d = t - event.time;
        if (d > -0.15 && d < 0.35) {
            double closed = smoothstep(-0.15, -0.08, d) * (1.0 - smoothstep(0.2, 0.35, d));
            duck = std::min(duck, 1.0 - 0.85 * closed);
        }
    }
    return duck;
}

void addGlitch(Mix& mix, const StereoBuffer& pad, const std::vector<Event>& events) {
    constexpr std::array<int, 10> kPentatonic{74, 77, 79, 81, 84, 86, 89, 91, 93, 96};
    // the picture's glitch field holds round(5 t): segments change at 0.1 s, 0.3 s, 0.5 s, ...
    for (int segment = 35; segment <= 204; ++segment) {
        double segmentStart = (segment - 0.5) / 5.0;
        if (glitchEnvelope(segmentStart + 0.1) < 1e-3) {
            continue;
        }
        uint32_t h = hashIndex(static_cast<uint32_t>(segment) * 7919u + 17u);
        Noise noise = seededNoise(h);
        int type = static_cast<int>(h % 6);
        if (type == 5) {
            continue;  // a rest
        }
        double hz = noteToHz(kPentatonic[(h >> 8) % kPentatonic.size()]);
        int hold = 2 + static_cast<int>((h >> 12) % 10);
        double steps = static_cast<double>(4 << ((h >> 16) % 4));
        int repeats = 1 + static_cast<int>((h >> 20) % 4);
        double duty = 0.45 + 0.4 * noise.nextUnit();
        double grainLength = 0.03 + 0.04 * noise.nextUnit();
        Pan pan = panOf(0.7 * noise.next());
        double subLength = 0.2 / repeats;
        size_t start = toFrame(segmentStart);
        double phase = 0.0, held = 0.0;
        for (size_t n = 0; n < toFrame(0.2); ++n) {
            double since = n * kDt;
            double t = segmentStart + since;
            double within = since - std::floor(since / subLength) * subLength;
            double onFor = subLength * duty;
            double env = clampTo(within / 0.004, 0.0, 1.0) * clampTo((onFor - within) / 0.006, 0.0, 1.0);
            double source = 0.0;
            switch (type) {
                case 0:
                case 1:
                    source = phase < 0.5 ? 0.6 : -0.6;
                    phase += hz * kDt;
                    break;
                case 2: source = 0.5 * noise.next(); break;
                case 3: {
                    size_t grain = toFrame(segmentStart - 0.3) +
                                   toFrame(within - std::floor(within / grainLength) * grainLength);
                    source = 6.0 * (pad.left[grain] + pad.right[grain]);
                    break;
                }
                default:
                    source = phase < 0.5 ? 0.6 : -0.6;
                    phase += hz * (1.0 + 1.0 * portableExp(-within / 0.03)) * kDt;
                    break;
            }
            phase -= std::floor(phase);
            // sample-rate reduction and coarse quantisation: the crushed sound
            if (n % hold == 0) {
                held = std::round(source * steps) / steps;
            }
            double v = held * env * 0.08 * glitchEnvelope(t) * eventDuck(t, events);
            mix.add(start + n, v * pan.left, v * pan.right, 0.15, 0.2);
        }
    }
}

// ---- the build into the drop, the drop, and the swell at the end

void addRiser(Mix& mix, double from, double to, double lowHz, double highHz, double level, uint32_t seed) {
    Noise noiseLeft = seededNoise(seed), noiseRight = seededNoise(seed + 1);
    Svf left, right;
    for (size_t i = toFrame(from); i < toFrame(to); ++i) {
        double t = frameTime(i);
        double rise = smoothstep(from, to, t);
        if (i % 32 == 0) {
            double hz = lowHz * portablePow(highHz / lowHz, rise);
            left.setup(hz, 2.0);
            right.setup(hz * 1.08, 2.0);
        }
        double gain = level * rise * rise * clampTo((to - t) / 0.005, 0.0, 1.0);
        mix.add(i, gain * left.tick(noiseLeft.next()).band, gain * right.tick(noiseRight.next()).band, 0.3,
                0.0);
    }
}

// at 20 s: a sub that falls two octaves while the band's filters open
void addDrop(Mix& mix) {
    Noise noise = seededNoise(2020);
    OnePole dark;
    dark.setHz(2500.0);
    size_t start = toFrame(20.0);
    double phase = 0.0, sweep = 1.0, amp = 1.0, wash = 1.0;
    double sweepDecay = decayFactor(0.35), ampDecay = decayFactor(1.1), washDecay = decayFactor(0.25);
    for (size_t n = 0; n < toFrame(3.5); ++n) {
        double attack = n < 441 ? n / 441.0 : 1.0;
        double v = 0.16 * sineOfTurns(phase) * amp + 0.06 * dark.lowpass(noise.next()) * wash;
        phase += (36.7 + 110.0 * sweep) * kDt;
        phase -= std::floor(phase);
        v *= attack;
        mix.add(start + n, v, v, 0.4, 0.0);
        sweep *= sweepDecay;
        amp *= ampDecay;
        wash *= washDecay;
    }
}

// an accelerating roll of toms under the swell
void addRoll(Mix& mix) {
    double interval = 0.45;
    uint32_t seed = 7700;
    for (double t = 77.0; t < kCut - 0.05; t += interval, interval *= 0.93) {
        addTom(mix, t, 0.04 + 0.08 * swell(t), seed++);
    }
}

// ---- the sustained texture: a drone and a cloud of grains, both through the slow sweep

StereoBuffer renderTexture() {
    StereoBuffer texture = makeStereoBuffer(trackFrames);
    size_t begin = toFrame(59.0), end = toFrame(kCut + 0.01);
    Noise noise = seededNoise(5959);
    // the cloud: short sine grains on chord tones two octaves up
    for (double start = 59.0; start < kCut; start += 0.09 + 0.1 * noise.nextUnit()) {
        const Chord& chord = chordAt(start);
        int tone = chord.tones[noise.nextBits() % 4] + (noise.nextUnit() < 0.5 ? 12 : 24);
        double hz = noteToHz(tone);
        double length = 0.5 + 0.9 * noise.nextUnit();
        Pan pan = panOf(0.8 * noise.next());
        size_t first = toFrame(start), count = toFrame(length);
        double phase = 0.0;
        for (size_t n = 0; n < count && first + n < end; ++n) {
            double window = sineOfTurns(0.5 * n / count);
            double v = 0.022 * window * window * (sineOfTurns(phase) + 0.3 * sineOfTurns(2.0 * phase));
            phase += hz * kDt;
            phase -= std::floor(phase);
            texture.left[first + n] += static_cast<float>(v * pan.left);
            texture.right[first + n] += static_cast<float>(v * pan.right);
        }
    }
    // the drone: root and fifth, gliding with the chords
    double rootHz = noteToHz(kDm9.root + 12), glide = 1.0 - decayFactor(0.3);
    double sawLow = 0.0, sawFifth = 0.3, sub = 0.0;
    for (size_t i = begin; i < end; ++i) {
        double t = frameTime(i);
        rootHz += (noteToHz(chordAt(t).root + 12) - rootHz) * glide;
        double tremolo = 1.0 + 0.15 * sineOfTurns(0.2 * t);
        double v =
            0.035 * tremolo *
                (sawOfTurns(sawLow, rootHz * kDt) + 0.7 * sawOfTurns(sawFifth, 1.4983 * rootHz * kDt)) +
            0.07 * sineOfTurns(sub);
        sawLow += rootHz * kDt;
        sawLow -= std::floor(sawLow);
        sawFifth += 1.4983 * rootHz * kDt;
        sawFifth -= std::floor(sawFifth);
        sub += 0.5 * rootHz * kDt;
        sub -= std::floor(sub);
        texture.left[i] += static_cast<float>(v);
        texture.right[i] += static_cast<float>(v);
    }
    return texture;
}

void addTexture(Mix& mix, const StereoBuffer& texture) {
    Svf left, right;
    for (size_t i = toFrame(59.0); i < trackFrames && frameTime(i) < kCut + 0.01; ++i) {
        double t = frameTime(i);
        if (i % 32 == 0) {
            double cutoff = sweepCutoff(t);
            double resonance = 0.9 + 1.6 * (smoothstep(62.0, 64.0, t) - smoothstep(70.0, 73.0, t));
            left.setup(cutoff, resonance);
            right.setup(cutoff * 1.03, resonance);
        }
        double gain = sustained(t) * (1.0 + 0.5 * swell(t));
        mix.add(i, gain * left.tick(texture.left[i]).low, gain * right.tick(texture.right[i]).low, 0.5, 0.1);
    }
}

// ---- effects, the cut and the tail

StereoBuffer finish(Mix& mix) {
    Reverb reverb(0.86, 0.4);
    PingPongDelay delay(3 * kStep, 0.42, 3500.0);
    StereoBuffer out = makeStereoBuffer(trackFrames);
    for (size_t i = 0; i < trackFrames; ++i) {
        double t = frameTime(i);
        double gate = cutGate(t);
        double echoLeft = 0.0, echoRight = 0.0, roomLeft = 0.0, roomRight = 0.0;
        delay.process(gate * mix.delaySend.left[i], gate * mix.delaySend.right[i], echoLeft, echoRight);
        reverb.process(gate * mix.reverbSend.left[i] + 0.3 * echoLeft,
                       gate * mix.reverbSend.right[i] + 0.3 * echoRight, roomLeft, roomRight);
        double fade = tailFade(t);
        out.left[i] = static_cast<float>(fade * (gate * mix.dry.left[i] + 0.7 * echoLeft + 0.9 * roomLeft));
        out.right[i] =
            static_cast<float>(fade * (gate * mix.dry.right[i] + 0.7 * echoRight + 0.9 * roomRight));
    }
    return out;
}

}  // namespace

StereoBuffer renderTrack() {
    std::vector<Event> events = eventsBeforeCut();
    Mix mix;

    StereoBuffer pad = renderPad();
    for (size_t i = 0; i < trackFrames; ++i) {
        mix.add(i, pad.left[i], pad.right[i], 0.35, 0.0);
    }
    addHits(mix, events);
    for (const Event& event : events) {
        if (event.kind == EventKind::B) {
            addBells(mix, event);
        } else if (event.kind == EventKind::C) {
            addKeys(mix, event);
        }
    }
    addGroove(mix);
    addMelodies(mix);
    addGlitch(mix, pad, events);
    addRiser(mix, 17.0, 20.0, 300.0, 7000.0, 0.12, 1717);
    addDrop(mix);
    addRiser(mix, 77.0, kCut, 400.0, 9000.0, 0.05, 7777);
    addRoll(mix);
    addTexture(mix, renderTexture());
    return finish(mix);
}

}  // namespace quarvel
