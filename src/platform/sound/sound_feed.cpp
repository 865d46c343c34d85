#include "platform/sound/sound_feed.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quarvel::platform {

SoundFeed::SoundFeed(std::vector<int16_t> samples, int rate)
    : samples_(std::move(samples)),
      frameCount_(static_cast<long long>(samples_.size() / channels)),
      rate_(rate) {}

long long SoundFeed::framesIn(SoundClock::duration time) const {
    return std::llround(std::chrono::duration<double>(time).count() * rate_);
}

SoundClock::duration SoundFeed::timeOf(long long frames) const {
    return std::chrono::duration_cast<SoundClock::duration>(
        std::chrono::duration<double>(static_cast<double>(frames) / rate_));
}

// Runs on the output's thread: only arithmetic and one copy, the file being decoded already.
void SoundFeed::fill(int16_t* out, std::size_t frames, std::optional<SoundClock::time_point> firstHeardAt) {
    const std::lock_guard guard(lock_);
    const auto count = static_cast<long long>(frames);
    // a start is made only where the file's first frame is still to be heard, not in a dropout
    if (state_ == State::startAsked && firstHeardAt &&
        *firstHeardAt + timeOf(leadInFrames) > SoundClock::now()) {
        state_ = State::playing;
        placeAnew_ = false;
        drift_ = 0;
        runStart_ = position_;
        origin_ = *firstHeardAt + timeOf(leadInFrames) - timeOf(position_);
        position_ -= leadInFrames;
        endHeardAt_.reset();
        started_.notify_all();
    } else if (state_ == State::playing && firstHeardAt) {
        // the frames this buffer must hold to be in place; a dropout, a move to a sink with
        // another delay, or a new stream shows up here as a frame far from the next in line
        const long long placed = framesIn(*firstHeardAt - origin_);
        const long long strayed = placed - position_;
        if (placeAnew_ || std::abs(strayed) > framesIn(placeTolerance)) {
            position_ = placed;
            drift_ = 0;
        } else {
            // the output's clock and the picture's drift apart slowly, under reports that wander
            // by a millisecond: where their average strays, a frame skipped or played twice a
            // buffer follows it without a jump anyone hears
            drift_ += (static_cast<double>(strayed) - drift_) / driftSmoothing;
            if (std::abs(drift_) > static_cast<double>(framesIn(driftTolerance))) {
                const int step = drift_ > 0 ? 1 : -1;
                position_ += step;
                drift_ -= step;
            }
        }
        placeAnew_ = false;
    }
    if (state_ != State::playing || placeAnew_) {
        std::memset(out, 0, frames * channels * sizeof(int16_t));
        return;
    }
    // frames before the run's first, and past the file's end, are silence
    const long long from = std::clamp(runStart_ - position_, 0LL, count);
    const long long to = std::clamp(frameCount_ - position_, from, count);
    std::memset(out, 0, frames * channels * sizeof(int16_t));
    if (to > from)
        std::memcpy(out + from * channels, samples_.data() + (position_ + from) * channels,
                    static_cast<std::size_t>(to - from) * channels * sizeof(int16_t));
    if (to > from && position_ + to == frameCount_ && firstHeardAt)
        endHeardAt_ = *firstHeardAt + timeOf(to - 1);
    position_ += count;
}

void SoundFeed::seekToStart() {
    const std::lock_guard guard(lock_);
    position_ = 0;
    // under way: a run of its own from the beginning, which nobody waits for
    if (state_ == State::playing) state_ = State::startAsked;
}

void SoundFeed::stop() {
    const std::lock_guard guard(lock_);
    if (state_ == State::playing) position_ = std::max(runStart_, framesIn(SoundClock::now() - origin_));
    state_ = State::stopped;
    started_.notify_all();
}

bool SoundFeed::askStart() {
    const std::lock_guard guard(lock_);
    if (state_ != State::stopped) return false;
    state_ = State::startAsked;
    return true;
}

SoundClock::time_point SoundFeed::waitForStart(const OpenLimits& limits) {
    for (;;) {
        {
            std::unique_lock guard(lock_);
            if (state_ != State::startAsked) break;
            started_.wait_for(guard, std::chrono::milliseconds(10));
            if (state_ != State::startAsked) break;
        }
        // the limits are looked at unlocked: what cuts the wait short may take its time
        if (limits.expired()) {
            const std::lock_guard guard(lock_);
            if (state_ != State::startAsked) break;
            // no output took the start in time: the run starts now all the same, and an output
            // that plays later places the file from here
            state_ = State::playing;
            runStart_ = position_;
            origin_ = SoundClock::now() - timeOf(position_);
            placeAnew_ = true;
            endHeardAt_.reset();
            break;
        }
    }
    const std::lock_guard guard(lock_);
    if (state_ != State::playing) return SoundClock::now();
    return origin_ + timeOf(runStart_);
}

void SoundFeed::outputChanged() {
    const std::lock_guard guard(lock_);
    placeAnew_ = true;
}

std::optional<SoundClock::time_point> SoundFeed::endHeardAt() {
    const std::lock_guard guard(lock_);
    if (state_ != State::playing) return std::nullopt;
    return endHeardAt_;
}

}  // namespace quarvel::platform
