#pragma once

#include "AudioSource.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

namespace sound {

// Sums the sources into the output block and limits it, and keeps the sample clock: how many
// frames have left the mixer, and when the last block did. The clock lets tests and the latency
// benchmark measure in samples instead of trusting the output's pacing.
class Mixer {
public:
    using Clock = std::chrono::steady_clock;

    // The sources are fixed for the mixer's life and must outlive it.
    explicit Mixer(std::vector<AudioSource*> sources);

    // Audio thread (or a test). Overwrites `frames` interleaved stereo frames of `out`.
    void render(float* out, int frames);
    bool active() const;

    std::uint64_t framesMixed() const { return frames_.load(std::memory_order_acquire); }
    // Where the clock stands now, in frames: the start of the last block plus the real time
    // since it was mixed, never past the end of that block.
    double clockNow() const;

    // Audio thread, while a source renders: the first sample of a requested effect is in this
    // block at `offset`.
    void noteEffectStart(int offset);
    std::uint64_t effectStarts() const { return effectStarts_.load(std::memory_order_acquire); }
    std::uint64_t lastEffectStartFrame() const { return lastStartFrame_.load(std::memory_order_relaxed); }
    Clock::time_point lastEffectStartTime() const;

private:
    std::vector<AudioSource*> sources_;
    std::atomic<std::uint64_t> frames_{0};

    // Audio-thread state of the block being mixed.
    std::uint64_t blockStart_ = 0;
    Clock::time_point blockTime_{};

    // The last block, read from other threads; held for a few stores or loads.
    mutable std::mutex clockMutex_;
    std::uint64_t lastBlockStart_ = 0;
    int lastBlockFrames_ = 0;
    Clock::time_point lastBlockTime_{};

    std::atomic<std::uint64_t> lastStartFrame_{0};
    std::atomic<Clock::rep> lastStartTime_{0};
    std::atomic<std::uint64_t> effectStarts_{0};
};

} // namespace sound
