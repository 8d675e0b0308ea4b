// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "AudioSource.h"
#include "Mixer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

namespace bench {

// The latency benchmark's clock on a mixer: where the sample clock stands at any moment (the
// start of the last block plus the real time since it was mixed) and where and when the last
// effect's first sample went out. Attach it before the output starts.
class MixerClock final : public sound::Mixer::Observer {
public:
    using Clock = sound::Mixer::Clock;

    explicit MixerClock(sound::Mixer& mixer) : mixer_(mixer) { mixer_.setObserver(this); }
    ~MixerClock() override { mixer_.setObserver(nullptr); }
    MixerClock(const MixerClock&) = delete;
    MixerClock& operator=(const MixerClock&) = delete;

    // In frames, never past the end of the last block.
    double now() const
    {
        const auto now = Clock::now();
        std::lock_guard lock(mutex_);
        if (lastBlockFrames_ == 0)
            return static_cast<double>(lastBlockStart_);
        const double since = std::chrono::duration<double>(now - lastBlockTime_).count() * sound::kOutputRate;
        return static_cast<double>(lastBlockStart_) + std::clamp(since, 0.0, static_cast<double>(lastBlockFrames_));
    }

    // Valid once the mixer's effectStarts() has counted the effect: the mixer calls
    // effectStarted() before it counts.
    std::uint64_t lastEffectStartFrame() const { return lastStartFrame_.load(std::memory_order_relaxed); }
    Clock::time_point lastEffectStartTime() const
    {
        return Clock::time_point(Clock::duration(lastStartTime_.load(std::memory_order_relaxed)));
    }

    void mixed(std::uint64_t start, int frames, Clock::time_point at) override
    {
        std::lock_guard lock(mutex_);
        lastBlockStart_ = start;
        lastBlockFrames_ = frames;
        lastBlockTime_ = at;
    }
    void effectStarted(std::uint64_t frame, Clock::time_point at) override
    {
        lastStartFrame_.store(frame, std::memory_order_relaxed);
        lastStartTime_.store(at.time_since_epoch().count(), std::memory_order_relaxed);
    }

private:
    sound::Mixer& mixer_;
    mutable std::mutex mutex_;
    std::uint64_t lastBlockStart_ = 0;
    int lastBlockFrames_ = 0;
    Clock::time_point lastBlockTime_{};
    std::atomic<std::uint64_t> lastStartFrame_{0};
    std::atomic<Clock::rep> lastStartTime_{0};
};

} // namespace bench
