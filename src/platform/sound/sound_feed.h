// The soundtrack as every output plays it: the whole file, decoded before playback, and the one
// rule that keeps it in its place against the picture's clock, whatever the output goes through:
// the frame heard at time T is the file's frame at T - origin, where origin is when the run's
// first frame was heard. After a dropout the feed skips what the dropout missed; after the
// output is opened anew, or moved to a sink with another delay, it starts at the right frame.
#pragma once

#include "platform/sound/sound_output.h"

#include <condition_variable>
#include <mutex>
#include <vector>

namespace quarvel::platform {

class SoundFeed final : public SoundSource {
public:
    static constexpr int channels = 2;
    // A run starts with this much silence: a server whose stream ran dry while it played silence
    // may drop the start of what comes next to catch up (PulseAudio does, by a block of up to
    // 5.8 ms), and this way it drops silence, not the first frames of the file.
    static constexpr int leadInFrames = 256;
    // How far the frames given may stray from their place before the feed moves them at once:
    // further than the outputs' reports wander, so that an output on time plays without a seam.
    static constexpr std::chrono::milliseconds placeTolerance{5};
    // Closer than that, the feed follows them a frame a buffer: a sound card's clock and the
    // system's drift apart by a few hundredths of a percent.
    static constexpr std::chrono::milliseconds driftTolerance{1};
    static constexpr double driftSmoothing = 16;  // buffers the average of the stray spans

    // `samples`: the whole file, interleaved stereo at `rate` frames a second.
    SoundFeed(std::vector<int16_t> samples, int rate);

    void fill(int16_t* out, std::size_t frames, std::optional<SoundClock::time_point> firstHeardAt) override;

    int rate() const { return rate_; }

    // Playback goes from the beginning of the file: from the next start, or at once, after a
    // lead-in, when it is under way.
    void seekToStart();
    // Playback pauses at the frame heard now, for the next start to go on from there.
    void stop();
    // Asks the output's next fill to start playing; false when playing or asked already.
    bool askStart();
    // Waits, within `limits`, until the output has made the start asked for, and gives when the
    // run's first frame of the file is heard. Where the limits run out first, the run starts at
    // once all the same, placed by whatever output plays later.
    SoundClock::time_point waitForStart(const OpenLimits& limits);
    // The frames an output gives from now on are heard with a delay not yet known: nothing is
    // played until a fill says when its frames are heard, and then the file is placed anew.
    void outputChanged();
    // When the file's last frame is heard, where this run has already given it to the output.
    std::optional<SoundClock::time_point> endHeardAt();

private:
    enum class State { stopped, startAsked, playing };

    long long framesIn(SoundClock::duration time) const;
    SoundClock::duration timeOf(long long frames) const;

    const std::vector<int16_t> samples_;
    const long long frameCount_;
    const int rate_;

    std::mutex lock_;
    std::condition_variable started_;
    State state_ = State::stopped;
    long long position_ = 0;         // the file frame the next fill begins with; may lie outside the file
    long long runStart_ = 0;         // the first frame of the file this run plays; frames before are silence
    SoundClock::time_point origin_;  // when file frame 0 is heard in this run
    bool placeAnew_ = false;
    double drift_ = 0;  // the average stray of the frames given, in frames
    std::optional<SoundClock::time_point> endHeardAt_;
};

}  // namespace quarvel::platform
