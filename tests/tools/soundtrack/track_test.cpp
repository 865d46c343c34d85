// Tests of the rendered track against the show's timeline: length, level, hits found in the
// samples themselves at every event of the picture's cycle, the cut; a second render gives the same
// bytes, and so does the program in a process of its own, as an independent decoder measures them.
#include "base/exit_status.h"
#include "base/show_timeline.h"
#include "program_run.h"
#include "soundtrack/composition.h"
#include "soundtrack/master.h"
#include "soundtrack/output_file.h"
#include "soundtrack/soundtrack.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace quarvel {
namespace {

long frameAt(double seconds) {
    return std::lround(seconds * sampleRate);
}

// energy of the slope of the mono mix: a crude high-pass, so transients stand out from the pads
class OnsetDetector {
public:
    explicit OnsetDetector(const StereoBuffer& buffer) : cumulative_(buffer.frames() + 1, 0.0) {
        double previous = 0.0;
        for (size_t i = 0; i < buffer.frames(); ++i) {
            double mono = 0.5 * (static_cast<double>(buffer.left[i]) + buffer.right[i]);
            double slope = mono - previous;
            previous = mono;
            cumulative_[i + 1] = cumulative_[i] + slope * slope;
        }
    }

    // rise in dB of the 10 ms after a frame over the 10 ms before it
    double strength(long frame) const {
        const long window = frameAt(0.010);
        return 10.0 *
               std::log10((energy(frame, frame + window) + 1e-12) / (energy(frame - window, frame) + 1e-12));
    }

    // the frame of the strongest rise within radius of a frame, searched every half millisecond
    long strongestNear(long around, long radius) const {
        long best = around;
        for (long frame = around - radius; frame <= around + radius; frame += frameAt(0.0005)) {
            if (strength(frame) > strength(best)) {
                best = frame;
            }
        }
        return best;
    }

private:
    double energy(long from, long to) const {
        long last = static_cast<long>(cumulative_.size()) - 1;
        from = std::clamp(from, 0L, last);
        to = std::clamp(to, 0L, last);
        return cumulative_[to] - cumulative_[from];
    }

    std::vector<double> cumulative_;
};

double peakDbfsBetween(const StereoBuffer& buffer, double from, double to) {
    double peak = 0.0;
    for (long i = frameAt(from); i < std::min(frameAt(to), static_cast<long>(buffer.frames())); ++i) {
        peak = std::max({peak, std::fabs(static_cast<double>(buffer.left[i])),
                         std::fabs(static_cast<double>(buffer.right[i]))});
    }
    return peak > 0.0 ? 20.0 * std::log10(peak) : -200.0;
}

void lastsTheRun(const Soundtrack& soundtrack) {
    EXPECT_NEAR(static_cast<double>(soundtrack.samples.frames()) / sampleRate, timeline::endSeconds, 0.1);
    // at 256 kbit/s constant, the encoded length follows from the size
    EXPECT_NEAR(soundtrack.mp3.size() * 8.0 / 256000.0, timeline::endSeconds, 0.1);
}

void isAsLoudAsPlannedWithHeadroomAndNoBadSamples(const Soundtrack& soundtrack) {
    const StereoBuffer& samples = soundtrack.samples;
    double loudness = integratedLoudness(samples);
    EXPECT_GE(loudness, -16.0);
    EXPECT_LE(loudness, -12.0);
    EXPECT_LE(samplePeakDbfs(samples), -1.0);
    for (size_t i = 0; i < samples.frames(); ++i) {
        ASSERT_TRUE(std::isfinite(samples.left[i]) && std::isfinite(samples.right[i])) << "frame " << i;
    }
    EXPECT_NEAR(soundtrack.master.loudnessLufs, loudness, 1e-9);
}

void everyEventOfTheCycleStartsAHit(const Soundtrack& soundtrack) {
    // the disc's three jumps in every cycle, up to the swell, whose roll brings onsets of its own
    std::vector<double> events;
    for (int cycle = 0; cycle * timeline::cycleSeconds < timeline::swell.begin; ++cycle) {
        for (double offset : {0.0, timeline::secondJumpSeconds, timeline::thirdJumpSeconds}) {
            if (cycle * timeline::cycleSeconds + offset < timeline::swell.begin) {
                events.push_back(cycle * timeline::cycleSeconds + offset);
            }
        }
    }
    ASSERT_EQ(events.size(), 24u);
    OnsetDetector detector(soundtrack.samples);
    for (double event : events) {
        // the strongest rise within 150 ms must be the hit, not a glitch burst or a note nearby
        long found = detector.strongestNear(frameAt(event), frameAt(0.150));
        double foundSeconds = static_cast<double>(found) / sampleRate;
        EXPECT_NEAR(foundSeconds, event, 0.020) << "event at " << event << " s";
        EXPECT_GE(detector.strength(found), 6.0) << "event at " << event << " s";
    }
}

void cutsWhenTheDiscIsGoneAndFallsSilentBeforeTheEnd(const Soundtrack& soundtrack) {
    const StereoBuffer& samples = soundtrack.samples;
    const double cut = timeline::swell.end;
    double before = peakDbfsBetween(samples, cut - 0.3, cut - 0.01);
    double after = peakDbfsBetween(samples, cut + 0.1, cut + 0.4);
    EXPECT_GE(before - after, 6.0) << before << " dBFS before the cut, " << after << " dBFS after";
    EXPECT_LT(peakDbfsBetween(samples, cut + 1.5, cut + 2.0), after - 20.0) << "the tail decays";
    EXPECT_LT(peakDbfsBetween(samples, timeline::endSeconds - 0.2, timeline::endSeconds), -120.0)
        << "silent at the end";
}

void aSecondRenderInThisProcessGivesTheSameBytes(const Soundtrack& soundtrack) {
    Soundtrack second = produceSoundtrack();
    ASSERT_TRUE(second.encoded.ok) << second.encoded.message;
    EXPECT_TRUE(second.samples.left == soundtrack.samples.left);
    EXPECT_TRUE(second.samples.right == soundtrack.samples.right);
    EXPECT_TRUE(second.mp3 == soundtrack.mp3);
}

std::vector<unsigned char> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// the number that follows the first `label` in `text`; 1e9 when there is none
double numberAfter(const std::string& text, const std::string& label) {
    const std::size_t at = text.find(label);
    if (at == std::string::npos) return 1e9;
    const char* start = text.c_str() + at + label.size();
    char* end = nullptr;
    const double value = std::strtod(start, &end);
    return end == start ? 1e9 : value;
}

// the value that follows a label in ffmpeg's ebur128 summary
double summaryValue(const std::string& log, const std::string& label) {
    const std::size_t summary = log.rfind("Summary:");
    return numberAfter(log.substr(summary == std::string::npos ? 0 : summary), label);
}

bool ffmpegInstalled() {
    return std::string(QUARVEL_FFMPEG).find("NOTFOUND") == std::string::npos &&
           std::string(QUARVEL_FFPROBE).find("NOTFOUND") == std::string::npos;
}

// a third render, by the program in its own process: the same bytes, so the render depends on
// nothing but its code; and an MP3 that ffprobe and ffmpeg's loudness meter measure within bounds
void theProgramWritesTheSameBytesAndADecoderMeasuresThem(const Soundtrack& soundtrack) {
    test::ScratchFolder folder("soundtrack-track-test");
    test::ProcessResult result =
        folder.run(QUARVEL_SOUNDTRACK_PROGRAM, {folder.work("audio.mp3"), "--wav", folder.work("audio.wav")});
    ASSERT_EQ(result.status, exitSuccess) << result.err;
    EXPECT_EQ(folder.workFiles(), (std::vector<std::string>{"audio.mp3", "audio.wav"}));
    EXPECT_EQ(std::filesystem::file_size(folder.work("audio.wav")), 58u + trackFrames * 8u);
    EXPECT_TRUE(readBytes(folder.work("audio.wav")) == encodeWav(soundtrack.samples)) << "the samples differ";
    EXPECT_TRUE(readBytes(folder.work("audio.mp3")) == soundtrack.mp3) << "the MP3 differs";

    if (!ffmpegInstalled()) {
        std::printf("ffmpeg is not installed: the decoder's measures are left out\n");
        return;
    }
    test::ProcessResult probe =
        folder.run(QUARVEL_FFPROBE,
                   {"-v", "error", "-show_entries", "format=duration:stream=sample_rate,channels,bit_rate",
                    "-of", "default=noprint_wrappers=1", folder.work("audio.mp3")});
    ASSERT_EQ(probe.status, 0) << probe.err;
    EXPECT_NEAR(numberAfter(probe.out, "duration="), timeline::endSeconds, 0.1) << probe.out;
    EXPECT_NE(probe.out.find("sample_rate=44100"), std::string::npos) << probe.out;
    EXPECT_NE(probe.out.find("channels=2"), std::string::npos) << probe.out;
    const double bitRate = numberAfter(probe.out, "bit_rate=");
    EXPECT_GE(bitRate, 192000.0) << probe.out;
    EXPECT_LT(bitRate, 1e9) << probe.out;

    test::ProcessResult meter =
        folder.run(QUARVEL_FFMPEG, {"-hide_banner", "-nostats", "-i", folder.work("audio.mp3"), "-af",
                                    "ebur128=peak=sample", "-f", "null", "-"});
    ASSERT_EQ(meter.status, 0) << meter.err;
    double loudness = summaryValue(meter.err, "I:");
    double peak = summaryValue(meter.err, "Peak:");
    EXPECT_GE(loudness, -16.0) << meter.err;
    EXPECT_LE(loudness, -12.0) << meter.err;
    EXPECT_LE(peak, -1.0) << "decoded sample peak";
}

// Rendering the track takes seconds, and ctest runs every test in a process of its own: so one
// test renders it once and makes every check on that render, the renders that check determinism
// included.
TEST(Track, OneRenderMeetsEveryCheck) {
    const Soundtrack soundtrack = produceSoundtrack();
    ASSERT_TRUE(soundtrack.encoded.ok) << soundtrack.encoded.message;
    const struct {
        const char* name;
        void (*check)(const Soundtrack&);
    } checks[] = {
        {"lasts the run", lastsTheRun},
        {"is as loud as planned, with headroom and no bad samples",
         isAsLoudAsPlannedWithHeadroomAndNoBadSamples},
        {"every event of the cycle starts a hit", everyEventOfTheCycleStartsAHit},
        {"cuts when the disc is gone and falls silent before the end",
         cutsWhenTheDiscIsGoneAndFallsSilentBeforeTheEnd},
        {"a second render in this process gives the same bytes", aSecondRenderInThisProcessGivesTheSameBytes},
        {"the program writes the same bytes, and a decoder measures them",
         theProgramWritesTheSameBytesAndADecoderMeasuresThem},
    };
    for (const auto& c : checks) {
        SCOPED_TRACE(c.name);
        c.check(soundtrack);
    }
}

}  // namespace
}  // namespace quarvel
