// The instruments of the soundtrack and how they play the song in song.cpp. Times are seconds of
// the show's clock; every musical event sits at the second where the picture changes. Each voice
// owns its phases and envelopes and makes one sample at a time; the song decides where it plays
// and how loud.
#include "soundtrack/composition.h"

#include "base/show_timeline.h"
#include "soundtrack/portable_math.h"
#include "soundtrack/song.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <type_traits>
#include <vector>

namespace quarvel {
namespace {

// the picture's cycle: the disc jumps at events A, B and C, 0, 4.0 and 5.2 s into each cycle
using song::Channel;
using song::Chord;
using song::cutSeconds;
using song::cycles;
using song::stepSeconds;
using timeline::cycleSeconds;

size_t toFrame(double seconds) {
    return static_cast<size_t>(std::llround(seconds * sampleRate));
}

double frameTime(size_t frame) {
    return static_cast<double>(frame) / sampleRate;
}

// ---- the timeline, the same ramps as the picture's

double ramp(ShowRamp r, double t) {
    return smoothstep(r.begin, r.end, t);
}

// 1 inside the contrasting middle part
double middlePart(double t) {
    return ramp(timeline::middleIn, t) - ramp(timeline::middleOut, t);
}

double glitchEnvelope(double t) {
    return ramp(timeline::glitchIn, t) - ramp(timeline::glitchOut, t) + middlePart(t);
}

double dropped(double t) {
    return ramp(timeline::drop, t);
}

// pulses give way to the sustained texture
double sustained(double t) {
    return ramp(timeline::pulseEnd, t);
}

double swell(double t) {
    return ramp(timeline::swell, t);
}

// bass, arpeggio and melody play after the drop, outside the middle part, until the texture takes over
double fullBand(double t) {
    return dropped(t) * (1.0 - middlePart(t)) * (1.0 - sustained(t));
}

// a 2 ms ramp at the cut keeps it from clicking
double cutGate(double t) {
    return t < cutSeconds ? 1.0 : clampTo(1.0 - (t - cutSeconds) / 0.002, 0.0, 1.0);
}

// the echoes after the cut fade out well before the end
double tailFade(double t) {
    return 1.0 - smoothstep(cutSeconds + 1.0, timeline::endSeconds - 0.2, t);
}

// the slow sweep of the sustained texture as the flow field changes scale
double sweepCutoff(double t) {
    const song::Texture& s = song::texture;
    return s.sweepFromHz * portablePow(s.sweepRange, ramp(timeline::flowScale, t)) *
           (1.0 + s.sweepSwellBoost * swell(t));
}

// strength of the hits, following the disc: light before the drop, soft in the middle and at the end
double hitLevel(double t) {
    const song::Drums& d = song::drums;
    double level = mixTo(d.beforeDrop, d.afterDrop, dropped(t)) - d.middleDip * middlePart(t);
    level = mixTo(level, d.sustained, sustained(t));
    return level * (1.0 + d.swellBoost * swell(t));
}

// the picture's pulse for one event: 1 at the event, falling to 0 just before its next occurrence
double cyclePulse(double sinceEvent, int power) {
    double x = 1.0 - sinceEvent / cycleSeconds;
    double result = 1.0;
    for (int i = 0; i < power; ++i) result *= x;
    return result;
}

// ---- the harmony: two chords per cycle, changing at events A and C

int cycleAt(double t) {
    int cycle = static_cast<int>(std::floor(t / cycleSeconds));
    return cycle < 0 ? 0 : (cycle >= cycles ? cycles - 1 : cycle);
}

const Chord& chordAt(double t) {
    int cycle = cycleAt(t);
    // the small allowance keeps a time computed as cycle start + 5.2 on the second chord
    return song::progression[cycle][t - cycle * cycleSeconds >= timeline::thirdJumpSeconds - 1e-6 ? 1 : 0];
}

enum class EventKind { A, B, C };

struct Event {
    double time;
    EventKind kind;
    int cycle;
};

std::vector<Event> eventsBeforeCut() {
    std::vector<Event> events;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        double start = cycle * cycleSeconds;
        for (auto [offset, kind] :
             {std::pair{0.0, EventKind::A}, std::pair{timeline::secondJumpSeconds, EventKind::B},
              std::pair{timeline::thirdJumpSeconds, EventKind::C}}) {
            if (start + offset < cutSeconds) {
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

struct StereoSample {
    double left, right;
};

// the dry signal and the two effect sends every instrument writes into
struct Mix {
    StereoBuffer dry = makeStereoBuffer(trackFrames);
    StereoBuffer reverbSend = makeStereoBuffer(trackFrames);
    StereoBuffer delaySend = makeStereoBuffer(trackFrames);

    void add(size_t frame, double left, double right, const Channel& channel) {
        if (frame >= trackFrames) return;
        dry.left[frame] += static_cast<float>(left);
        dry.right[frame] += static_cast<float>(right);
        reverbSend.left[frame] += static_cast<float>(left * channel.reverb);
        reverbSend.right[frame] += static_cast<float>(right * channel.reverb);
        delaySend.left[frame] += static_cast<float>(left * channel.delay);
        delaySend.right[frame] += static_cast<float>(right * channel.delay);
    }
    void add(size_t frame, double mono, Pan pan, const Channel& channel) {
        add(frame, mono * pan.left, mono * pan.right, channel);
    }
};

constexpr Pan centre{1.0, 1.0};  // the same signal on both sides, at full level

Pan panOf(const Channel& channel) {
    return channel.pan ? panOf(*channel.pan) : centre;
}

// the first `frames` samples of a voice into the mix, from `time` on: a mono voice in the
// channel's place, a stereo one as it is
template <typename Voice>
void play(Mix& mix, double time, size_t frames, Voice& voice, const Channel& channel) {
    size_t start = toFrame(time);
    Pan pan = panOf(channel);
    for (size_t n = 0; n < frames; ++n) {
        if constexpr (std::is_same_v<decltype(voice.next()), StereoSample>) {
            StereoSample s = voice.next();
            mix.add(start + n, s.left, s.right, channel);
        } else {
            mix.add(start + n, voice.next(), pan, channel);
        }
    }
}

// a phase-modulated sine: the carrier's phase pushed by the modulator's sine
double fm(double carrierPhase, double modulatorPhase, double index) {
    return sineOfTurns(carrierPhase + index * sineOfTurns(modulatorPhase) / (2.0 * pi));
}

// ---- percussion: one hit per event

// event A: a deep kick with a falling pitch and a bright tick on top
struct Kick {
    double level;
    Noise noise;
    Phasor body;
    Decay sweep{0.035}, amp{0.26}, click{0.003};
    double previousNoise = 0.0;
    size_t frames = toFrame(1.8);

    Kick(double level, uint32_t seed) : level(level), noise(seededNoise(seed)) {}

    double next() {
        double tone = sineOfTurns(body.tick(43.0 + 130.0 * sweep.tick())) * amp.tick();
        double white = noise.next();
        double crack = 0.5 * (white - previousNoise) * click.tick();
        previousNoise = white;
        return level * softClip(1.4 * (tone + 0.6 * crack)) / 1.4;
    }
};

// event B: a snare, band-passed noise over a short tone, wide and wet
struct Snare {
    double level;
    Noise noiseLeft, noiseRight;
    Svf bandLeft, bandRight;
    Phasor body;
    Decay bodyLevel{0.055}, rattle{0.1};
    size_t n = 0;
    size_t frames = toFrame(1.0);

    Snare(double level, uint32_t seed)
        : level(level), noiseLeft(seededNoise(seed)), noiseRight(seededNoise(seed + 1)) {
        bandLeft.setup(1900.0, 0.9);
        bandRight.setup(2100.0, 0.9);
    }

    StereoSample next() {
        double bodyNow = bodyLevel.tick();
        double tone = sineOfTurns(body.tick(172.0 + 30.0 * bodyNow)) * bodyNow;
        double rattleNow = rattle.tick();
        double left = tone * 0.6 + 1.6 * bandLeft.tick(noiseLeft.next()).band * rattleNow;
        double right = tone * 0.6 + 1.6 * bandRight.tick(noiseRight.next()).band * rattleNow;
        double attack = fadeIn(n++, 44);
        return {level * attack * left, level * attack * right};
    }
};

// event C: a tuned tom with a metallic ring
struct Tom {
    double level;
    Noise noise;
    Phasor body, ring1, ring2;
    Decay sweep{0.05}, amp{0.22}, metal{0.07}, click{0.002};
    size_t frames = toFrame(1.4);

    Tom(double level, uint32_t seed) : level(level), noise(seededNoise(seed)) {}

    double next() {
        double v = sineOfTurns(body.tick(105.0 + 60.0 * sweep.tick())) * amp.tick() +
                   0.22 * metal.tick() * (ring1.sine(547.0) + 0.7 * ring2.sine(1174.0)) +
                   0.8 * noise.next() * click.tick();
        return v * level;
    }
};

template <typename Drum>
void addDrum(Mix& mix, double time, double level, uint32_t seed, const Channel& channel) {
    Drum drum(level, seed);
    play(mix, time, drum.frames, drum, channel);
}

void addHits(Mix& mix, const std::vector<Event>& events) {
    const song::Drums& d = song::drums;
    uint32_t index = 0;
    for (const Event& event : events) {
        double level = hitLevel(event.time);
        uint32_t seed = 1000 + index++;
        switch (event.kind) {
            case EventKind::A:
                addDrum<Kick>(mix, event.time, d.kick.level * level, seed, d.kick.channel);
                break;
            case EventKind::B:
                addDrum<Snare>(mix, event.time, d.snare.level * level, seed, d.snare.channel);
                break;
            case EventKind::C: addDrum<Tom>(mix, event.time, d.tom.level * level, seed, d.tom.channel); break;
        }
    }
}

// ---- the pulse layers: each event's chord decays over its cycle like the picture's pulse

// The picture's pulse as a note's envelope: 1 at the event, falling with `power` over the cycle
// after a 2 ms fade-in, and faded out as the sustained texture takes over.
struct PulseEnvelope {
    double eventTime;
    int power;
    size_t n = 0;        // samples since the event
    double pulse = 0.0;  // the picture's pulse at this sample
    double fade = 0.0;   // what the sustained texture leaves of the note

    // moves on by one sample; false once the note can no longer be heard
    bool tick() {
        double since = n * samplePeriod;
        pulse = cyclePulse(since, power) * fadeIn(n, 88);
        fade = 1.0 - sustained(eventTime + since);
        ++n;
        return pulse * fade >= 1e-4;
    }
};

// event B: an FM bell, the fastest decay (fifth power)
struct Bell {
    double hz;
    double gain;
    PulseEnvelope envelope;
    Phasor carrier, modulator;

    Bell(double eventTime, double hz, double gain) : hz(hz), gain(gain), envelope{eventTime, 5} {}

    double next() {
        double env = envelope.pulse;
        double index = 0.15 + 1.2 * env * env;
        return fm(carrier.tick(hz), modulator.tick(3.5 * hz), index) * env * envelope.fade * gain;
    }
};

// event C: an electric piano note, decaying with the fourth power, with a short metallic tine
struct KeysNote {
    double hz;
    PulseEnvelope envelope;
    Phasor carrier, modulator, tine;
    Decay tineLevel{0.015};

    KeysNote(double eventTime, double hz) : hz(hz), envelope{eventTime, 4} {}

    double next() {
        double env = envelope.pulse;
        double index = 0.1 + 1.1 * env * env + 0.8 * tineLevel.tick() * sineOfTurns(tine.tick(14.0 * hz));
        return fm(carrier.tick(hz), modulator.tick(hz), index) * env * envelope.fade * song::keys.level;
    }
};

void addBells(Mix& mix, const Event& event) {
    const Chord& chord = chordAt(event.time);
    const Channel& channel = song::bells.channel;
    size_t start = toFrame(event.time);
    for (const song::BellNote& note : song::bells.notes) {
        Bell bell(event.time, noteToHz(chord.tones[note.tone] + 12 * note.octaves), note.level);
        Pan pan = panOf(note.pan);
        for (size_t n = 0; n < toFrame(cycleSeconds) && bell.envelope.tick(); ++n) {
            mix.add(start + n, bell.next(), pan, channel);
        }
    }
}

void addKeys(Mix& mix, const Event& event) {
    const Chord& chord = chordAt(event.time);
    size_t start = toFrame(event.time);
    for (size_t k = 0; k < chord.tones.size(); ++k) {
        KeysNote note(event.time, noteToHz(chord.tones[k]));
        Pan pan = panOf(song::keys.firstPan + song::keys.panStep * k);
        for (size_t n = 0; n < toFrame(cycleSeconds) && note.envelope.tick(); ++n) {
            mix.add(start + n, note.next(), pan, song::keys.channel);
        }
    }
}

// ---- the pad: a bed of detuned saws that blooms at every event A (cube decay) and later holds

double padCutoff(double t) {
    const song::Pad& p = song::pad;
    double cutoff = mixTo(p.cutoffBeforeDrop, p.cutoffAfterDrop, dropped(t));
    cutoff = mixTo(cutoff, p.cutoffMiddle, middlePart(t));
    return mixTo(cutoff, sweepCutoff(t), sustained(t));
}

double padLevel(double t, double bloom) {
    const song::Pad& p = song::pad;
    double base = mixTo(p.fadeInLevel * smoothstep(0.0, p.fadeInSeconds, t), p.afterDrop, dropped(t)) +
                  p.middleLift * middlePart(t);
    double depth = mixTo(p.bloomBeforeDrop, p.bloomAfterDrop, dropped(t)) - p.bloomMiddleDip * middlePart(t);
    return mixTo(base + depth * bloom, p.sustained, sustained(t)) * (1.0 + p.swellBoost * swell(t));
}

// one chord tone of the pad: three detuned saws that glide to the next chord's tone
struct PadVoice {
    static constexpr std::array<double, 3> detune{0.9960, 1.0, 1.0040};

    double hz;
    double target;
    std::array<Phasor, 3> saws;

    PadVoice(double hz, double firstPhase) : hz(hz), target(hz) {
        for (size_t s = 0; s < saws.size(); ++s) {
            // the saws of every voice start apart: no pile-up at the first sample
            saws[s].phase = firstPhase + 0.37 * s;
        }
    }

    // the middle saw in both channels, the outer two one side each
    StereoSample next(double glide) {
        hz += (target - hz) * glide;
        std::array<double, 3> out{};
        for (size_t s = 0; s < saws.size(); ++s) out[s] = saws[s].saw(hz * detune[s]);
        return {out[0] + 0.5 * out[1], out[2] + 0.5 * out[1]};
    }
};

StereoBuffer renderPad() {
    StereoBuffer pad = makeStereoBuffer(trackFrames);
    std::vector<PadVoice> voices;
    const Chord& first = song::progression[0][0];
    for (size_t v = 0; v < first.tones.size(); ++v) voices.emplace_back(noteToHz(first.tones[v]), 0.13 * v);
    Svf filterLeft, filterRight;
    OnePole levelSmoother;
    levelSmoother.setHz(25.0);
    double glide = 1.0 - decayFactor(0.04);
    double level = 0.0;
    for (size_t i = 0; i < trackFrames; ++i) {
        double t = frameTime(i);
        if (i % 32 == 0) {
            const Chord& chord = chordAt(t);
            for (size_t v = 0; v < voices.size(); ++v) voices[v].target = noteToHz(chord.tones[v]);
            double bloom = cyclePulse(t - cycleAt(t) * cycleSeconds, 3) * (1.0 - sustained(t));
            double cutoff = padCutoff(t) * (1.0 + 1.5 * bloom);
            filterLeft.setup(cutoff, 0.8);
            filterRight.setup(cutoff * 1.05, 0.8);
            level = padLevel(t, bloom);
        }
        double left = 0.0, right = 0.0;
        for (PadVoice& voice : voices) {
            StereoSample s = voice.next(glide);
            left += s.left;
            right += s.right;
        }
        double gain = levelSmoother.lowpass(level) * song::pad.gain;
        pad.left[i] = static_cast<float>(filterLeft.tick(left).low * gain);
        pad.right[i] = static_cast<float>(filterRight.tick(right).low * gain);
    }
    return pad;
}

// ---- bass and arpeggio on the grid, after the drop

// a saw through a low-pass that closes as the note decays, over a sine at the same pitch
struct BassNote {
    double hz;
    double velocity;
    double band;  // how much of the full band plays at the note's start
    Gate gate{132, toFrame(0.36), toFrame(0.02)};
    Svf filter;
    Phasor saw, sub;
    Decay amp{0.3}, bright{0.08};
    size_t n = 0;

    BassNote(double time, double hz, double velocity) : hz(hz), velocity(velocity), band(fullBand(time)) {}

    double next() {
        double brightNow = bright.tick();
        if (n % 16 == 0) filter.setup(180.0 + 1500.0 * brightNow * brightNow * velocity, 1.1);
        double v = filter.tick(saw.saw(hz)).low + 0.8 * sub.sine(hz);
        v *= song::groove.bass.level * velocity * amp.tick() * gate.at(n++) * band;
        return v;
    }
};

// a short saw pluck with its octave, the filter closing as it decays
struct Pluck {
    double hz;
    double velocity;
    double level;
    Gate gate{66, toFrame(0.19), toFrame(0.012)};
    Svf filter;
    Phasor saw, octave;
    Decay amp{0.12}, bright{0.07};
    size_t n = 0;

    Pluck(double time, double hz, double velocity)
        : hz(hz), velocity(velocity), level(song::groove.pluckLevel * velocity * fullBand(time)) {}

    double next() {
        double brightNow = bright.tick();
        if (n % 16 == 0) filter.setup(450.0 + 3800.0 * brightNow * velocity, 1.4);
        double v = filter.tick(saw.saw(hz) + 0.3 * octave.saw(2.0 * hz)).low;
        v *= level * amp.tick() * gate.at(n++);
        return v;
    }
};

void addBassNote(Mix& mix, double time, double hz, double velocity) {
    BassNote note(time, hz, velocity);
    play(mix, time, note.gate.frames(), note, song::groove.bass.channel);
}

void addPluck(Mix& mix, double time, double hz, double velocity, double position) {
    Pluck pluck(time, hz, velocity);
    play(mix, time, pluck.gate.frames(), pluck,
         Channel{song::groove.pluckChannel.reverb, song::groove.pluckChannel.delay, position});
}

int stepAt(double secondsIntoCycle) {
    return static_cast<int>(std::lround(secondsIntoCycle / stepSeconds));
}

bool isEventStep(int step) {
    return step == 0 || step == stepAt(timeline::secondJumpSeconds) ||
           step == stepAt(timeline::thirdJumpSeconds);
}

void addGroove(Mix& mix) {
    const song::Groove& g = song::groove;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        for (int step = 0; step < song::stepsPerCycle; ++step) {
            double time = cycle * cycleSeconds + step * stepSeconds;
            if (fullBand(time) < 1e-3 || time >= cutSeconds) continue;
            const Chord& chord = chordAt(time + 1e-6);
            // the bass leaves the event steps to the hits and answers them
            const song::BassStep& bass = g.bassPattern[step % g.bassPattern.size()];
            if (bass.velocity > 0.0 && !isEventStep(step)) {
                addBassNote(mix, time, noteToHz(chord.root + bass.interval), bass.velocity);
            }
            const song::PluckStep& pluck = g.pluckPattern[step % g.pluckPattern.size()];
            int tone = pluck.tone;
            int note = (tone < 4 ? chord.tones[tone] : chord.tones[0] + 12) + g.pluckTranspose;
            double velocity = isEventStep(step) ? g.pluckAccent : pluck.velocity;
            addPluck(mix, time, noteToHz(note), velocity, pluck.pan);
        }
    }
}

// ---- melodies: a lead after the middle part, a whistle inside it

// two detuned saws and a sine, mixed by brightness, with a vibrato that sets in as the note is held
struct LeadVoice {
    double hz;
    double brightness;
    double level;
    size_t length;
    Svf filter;
    Phasor sawA, sawB, sine;
    // in turns, left to grow over the note: wrapping it would not change the sound, only the bits
    double vibrato = 0.0;
    SmoothGate amp{0.03, 0.07};
    size_t n = 0;

    LeadVoice(double hz, double brightness, double level, size_t length)
        : hz(hz), brightness(brightness), level(level), length(length) {
        filter.setup(900.0 + 2200.0 * brightness, 0.7);
    }

    double next() {
        double since = n * samplePeriod;
        double depth = 0.12 * smoothstep(0.25, 0.7, since);
        double bend = portableExp(depth * sineOfTurns(vibrato) * ln2 / 12.0);
        vibrato += 5.2 * samplePeriod;
        double f = hz * bend;
        double tone =
            brightness * (sawA.saw(0.997 * f) + sawB.saw(1.003 * f)) + (1.6 - brightness) * sine.sine(f);
        return filter.tick(tone).low * amp.tick(n++ < length) * level;
    }
};

void addMelody(Mix& mix, const song::Melody& melody) {
    for (const song::Note& note : melody.notes) {
        double time = note.cycle * cycleSeconds + note.step * stepSeconds;
        size_t length = toFrame(note.steps * stepSeconds), release = toFrame(song::melodies.releaseSeconds);
        LeadVoice voice(noteToHz(note.pitch), melody.brightness, melody.level, length);
        play(mix, time, length + release, voice, song::melodies.channel);
    }
}

// ---- the glitch texture: a new bit-crushed burst every 0.2 s, on the picture's glitch grid

// the picture's glitch field holds round(5 t): segment k runs from (k - 0.5) / 5 to (k + 0.5) / 5
int glitchSegmentAt(double t) {
    return static_cast<int>(std::lround(5.0 * t));
}

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

// One burst of a glitch segment, everything drawn from the segment's hash: a square, a square
// that falls in pitch, noise, or grains of the pad from just before; repeated, gated and crushed.
struct GlitchBurst {
    enum class Source { square, noise, padGrains, fallingSquare, rest };

    double start;
    const StereoBuffer& pad;
    Noise noise;
    Source source = Source::rest;
    double hz = 0.0;
    int hold = 1;        // samples each crushed value is held
    double steps = 1.0;  // quantisation steps per unit
    double subLength = 0.2;
    double duty = 0.0;
    double grainLength = 0.0;
    Pan pan{0.0, 0.0};
    Phasor phase;
    double held = 0.0;
    size_t n = 0;

    GlitchBurst(int segment, const StereoBuffer& pad) : start((segment - 0.5) / 5.0), pad(pad) {
        uint32_t h = hashIndex(static_cast<uint32_t>(segment) * 7919u + 17u);
        noise = seededNoise(h);
        switch (h % 6) {
            case 0:
            case 1: source = Source::square; break;
            case 2: source = Source::noise; break;
            case 3: source = Source::padGrains; break;
            case 4: source = Source::fallingSquare; break;
            default: source = Source::rest; break;
        }
        if (source == Source::rest) return;
        hz = noteToHz(song::glitch.scale[(h >> 8) % song::glitch.scale.size()]);
        hold = 2 + static_cast<int>((h >> 12) % 10);
        steps = static_cast<double>(4 << ((h >> 16) % 4));
        int repeats = 1 + static_cast<int>((h >> 20) % 4);
        duty = 0.45 + 0.4 * noise.nextUnit();
        grainLength = 0.03 + 0.04 * noise.nextUnit();
        pan = panOf(0.7 * noise.next());
        subLength = 0.2 / repeats;
    }

    double next() {
        double since = n * samplePeriod;
        double within = since - std::floor(since / subLength) * subLength;
        double onFor = subLength * duty;
        double env = clampTo(within / 0.004, 0.0, 1.0) * clampTo((onFor - within) / 0.006, 0.0, 1.0);
        double value = 0.0;
        switch (source) {
            case Source::square: value = phase.tick(hz) < 0.5 ? 0.6 : -0.6; break;
            case Source::noise: value = 0.5 * noise.next(); break;
            case Source::padGrains: {
                size_t grain =
                    toFrame(start - 0.3) + toFrame(within - std::floor(within / grainLength) * grainLength);
                value = 6.0 * (pad.left[grain] + pad.right[grain]);
                break;
            }
            case Source::fallingSquare:
                value = phase.tick(hz * (1.0 + 1.0 * portableExp(-within / 0.03))) < 0.5 ? 0.6 : -0.6;
                break;
            case Source::rest: break;
        }
        // sample-rate reduction and coarse quantisation: the crushed sound
        if (n % hold == 0) held = std::round(value * steps) / steps;
        ++n;
        return held * env;
    }
};

void addGlitch(Mix& mix, const StereoBuffer& pad, const std::vector<Event>& events) {
    for (int segment = glitchSegmentAt(timeline::glitchIn.begin);
         segment <= glitchSegmentAt(timeline::middleOut.end); ++segment) {
        double segmentStart = (segment - 0.5) / 5.0;
        if (glitchEnvelope(segmentStart + 0.1) < 1e-3) continue;
        GlitchBurst burst(segment, pad);
        if (burst.source == GlitchBurst::Source::rest) continue;
        size_t start = toFrame(segmentStart);
        for (size_t n = 0; n < toFrame(0.2); ++n) {
            double t = segmentStart + n * samplePeriod;
            double v = burst.next() * song::glitch.part.level * glitchEnvelope(t) * eventDuck(t, events);
            mix.add(start + n, v, burst.pan, song::glitch.part.channel);
        }
    }
}

// ---- the build into the drop, the drop, and the swell at the end

void addRiser(Mix& mix, const song::Riser& riser) {
    const ShowRamp span = riser.span;
    const double lowHz = riser.lowHz, highHz = riser.highHz, level = riser.level;
    const Channel& channel = song::builds.risers;
    Noise noiseLeft = seededNoise(riser.seed), noiseRight = seededNoise(riser.seed + 1);
    Svf left, right;
    for (size_t i = toFrame(span.begin); i < toFrame(span.end); ++i) {
        double t = frameTime(i);
        double rise = ramp(span, t);
        if (i % 32 == 0) {
            double hz = lowHz * portablePow(highHz / lowHz, rise);
            left.setup(hz, 2.0);
            right.setup(hz * 1.08, 2.0);
        }
        double gain = level * rise * rise * clampTo((span.end - t) / 0.005, 0.0, 1.0);
        mix.add(i, gain * left.tick(noiseLeft.next()).band, gain * right.tick(noiseRight.next()).band,
                channel);
    }
}

// a sub that falls two octaves under a dark noise wash while the band's filters open
struct DropVoice {
    Noise noise = seededNoise(2020);
    OnePole dark;
    Phasor body;
    Decay sweep{0.35}, amp{1.1}, wash{0.25};
    size_t n = 0;
    size_t frames = toFrame(3.5);

    DropVoice() { dark.setHz(2500.0); }

    double next() {
        double v = 0.16 * sineOfTurns(body.tick(36.7 + 110.0 * sweep.tick())) * amp.tick() +
                   0.06 * dark.lowpass(noise.next()) * wash.tick();
        return v * fadeIn(n++, 441);
    }
};

void addDrop(Mix& mix) {
    DropVoice drop;
    play(mix, timeline::drop.begin, drop.frames, drop, song::builds.drop);
}

// an accelerating roll of toms under the swell
void addRoll(Mix& mix) {
    const song::Builds& b = song::builds;
    double interval = b.rollInterval;
    uint32_t seed = b.rollSeed;
    for (double t = timeline::swell.begin; t < cutSeconds - b.rollStopsBeforeCut;
         t += interval, interval *= b.rollSpeedUp) {
        addDrum<Tom>(mix, t, b.rollLevel + b.rollSwellLevel * swell(t), seed++, song::drums.tom.channel);
    }
}

// ---- the sustained texture: a drone and a cloud of grains, both through the slow sweep

// a short sine grain with its octave, under a sine-shaped window
struct Grain {
    double hz;
    size_t frames;
    Phasor phase;
    size_t n = 0;

    Grain(double hz, size_t frames) : hz(hz), frames(frames) {}

    double next() {
        double window = sineOfTurns(0.5 * n / frames);
        double p = phase.tick(hz);
        ++n;
        return 0.022 * window * window * (sineOfTurns(p) + 0.3 * sineOfTurns(2.0 * p));
    }
};

// root and fifth as saws over a sub an octave down, gliding with the chords
struct Drone {
    double rootHz;
    double glide = 1.0 - decayFactor(0.3);
    Phasor low, fifth{0.3}, sub;

    explicit Drone(double rootHz) : rootHz(rootHz) {}

    double next(double t) {
        rootHz += (noteToHz(chordAt(t).root + 12) - rootHz) * glide;
        double tremolo = 1.0 + 0.15 * sineOfTurns(0.2 * t);
        return 0.035 * tremolo * (low.saw(rootHz) + 0.7 * fifth.saw(1.4983 * rootHz)) +
               0.07 * sub.sine(0.5 * rootHz);
    }
};

StereoBuffer renderTexture() {
    StereoBuffer texture = makeStereoBuffer(trackFrames);
    const double from = timeline::pulseEnd.begin;
    size_t begin = toFrame(from), end = toFrame(cutSeconds + 0.01);
    Noise noise = seededNoise(5959);
    // the cloud: short sine grains on chord tones two octaves up
    for (double start = from; start < cutSeconds; start += 0.09 + 0.1 * noise.nextUnit()) {
        const Chord& chord = chordAt(start);
        int tone = chord.tones[noise.nextBits() % 4] + (noise.nextUnit() < 0.5 ? 12 : 24);
        double hz = noteToHz(tone);
        double length = 0.5 + 0.9 * noise.nextUnit();
        Pan pan = panOf(0.8 * noise.next());
        size_t first = toFrame(start);
        Grain grain(hz, toFrame(length));
        for (size_t n = 0; n < grain.frames && first + n < end; ++n) {
            double v = grain.next();
            texture.left[first + n] += static_cast<float>(v * pan.left);
            texture.right[first + n] += static_cast<float>(v * pan.right);
        }
    }
    Drone drone(noteToHz(song::progression[0][0].root + 12));
    for (size_t i = begin; i < end; ++i) {
        double v = drone.next(frameTime(i));
        texture.left[i] += static_cast<float>(v);
        texture.right[i] += static_cast<float>(v);
    }
    return texture;
}

void addTexture(Mix& mix, const StereoBuffer& texture) {
    // the filter rings hardest while the flow field changes scale
    const ShowRamp ringsUp{timeline::flowScale.begin - 1.0, timeline::flowScale.begin + 1.0};
    const ShowRamp settles{timeline::flowScale.end, timeline::flowScale.end + 3.0};
    Svf left, right;
    for (size_t i = toFrame(timeline::pulseEnd.begin); i < trackFrames && frameTime(i) < cutSeconds + 0.01;
         ++i) {
        double t = frameTime(i);
        if (i % 32 == 0) {
            double cutoff = sweepCutoff(t);
            double resonance = 0.9 + 1.6 * (ramp(ringsUp, t) - ramp(settles, t));
            left.setup(cutoff, resonance);
            right.setup(cutoff * 1.03, resonance);
        }
        double gain = sustained(t) * (1.0 + song::texture.swellBoost * swell(t));
        mix.add(i, gain * left.tick(texture.left[i]).low, gain * right.tick(texture.right[i]).low,
                song::texture.channel);
    }
}

// ---- effects, the cut and the tail

StereoBuffer finish(Mix& mix) {
    const song::Effects& e = song::effects;
    Reverb reverb(e.roomSize, e.damping);
    PingPongDelay delay(e.delaySteps * stepSeconds, e.delayFeedback, e.delayDampingHz);
    StereoBuffer out = makeStereoBuffer(trackFrames);
    for (size_t i = 0; i < trackFrames; ++i) {
        double t = frameTime(i);
        double gate = cutGate(t);
        double echoLeft = 0.0, echoRight = 0.0, roomLeft = 0.0, roomRight = 0.0;
        delay.process(gate * mix.delaySend.left[i], gate * mix.delaySend.right[i], echoLeft, echoRight);
        reverb.process(gate * mix.reverbSend.left[i] + e.echoIntoRoom * echoLeft,
                       gate * mix.reverbSend.right[i] + e.echoIntoRoom * echoRight, roomLeft, roomRight);
        double fade = tailFade(t);
        out.left[i] = static_cast<float>(
            fade * (gate * mix.dry.left[i] + e.echoReturn * echoLeft + e.roomReturn * roomLeft));
        out.right[i] = static_cast<float>(
            fade * (gate * mix.dry.right[i] + e.echoReturn * echoRight + e.roomReturn * roomRight));
    }
    return out;
}

}  // namespace

StereoBuffer renderTrack() {
    std::vector<Event> events = eventsBeforeCut();
    Mix mix;

    StereoBuffer pad = renderPad();
    for (size_t i = 0; i < trackFrames; ++i) mix.add(i, pad.left[i], pad.right[i], song::pad.channel);
    addHits(mix, events);
    for (const Event& event : events) {
        if (event.kind == EventKind::B) {
            addBells(mix, event);
        } else if (event.kind == EventKind::C) {
            addKeys(mix, event);
        }
    }
    addGroove(mix);
    addMelody(mix, song::melodies.lead);
    addMelody(mix, song::melodies.whistle);
    addGlitch(mix, pad, events);
    addRiser(mix, song::builds.intoDrop);
    addDrop(mix);
    addRiser(mix, song::builds.intoSwell);
    addRoll(mix);
    addTexture(mix, renderTexture());
    return finish(mix);
}

}  // namespace quarvel
