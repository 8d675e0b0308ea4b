// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "AudioSource.h"
#include "MixLevels.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace sound {

// Sums the sources, each at its own gain, into the output block and limits it (MixLevels.h),
// and counts what has left it: frames, and effects whose first sample was mixed. Tests measure
// in those instead of trusting the output's pacing; measurements that need more (the latency
// benchmark's clock) watch the mixer through an Observer.
class Mixer {
public:
    using Clock = std::chrono::steady_clock;

    // Watches the mixer from the audio thread, for measurement only: it must not block.
    class Observer {
    public:
        virtual ~Observer() = default;
        // A block of `frames` frames starting at frame `start` was mixed, beginning at `at`.
        virtual void mixed(std::uint64_t start, int frames, Clock::time_point at) = 0;
        // The first sample of a requested effect is frame `frame`, mixed at about `at`.
        virtual void effectStarted(std::uint64_t frame, Clock::time_point at) = 0;
    };

    struct Input {
        AudioSource* source = nullptr;
        float gain = 1.0f;
    };

    // How the mix ends when the program does.
    enum class Fade {
        Ramp, // over kEndFadeFrames from the next block: what sounds now must not end in a click
        Now, // nothing is sounding (the device is not running): silence from the next block
    };
    // As long as the cuts of the music.
    static constexpr int kEndFadeFrames = kOutputRate / 125; // 8 ms

    // The sources are fixed for the mixer's life and must outlive it.
    explicit Mixer(std::vector<Input> inputs);

    // Audio thread (or a test). Overwrites `frames` interleaved stereo frames of `out`.
    void render(float* out, int frames);
    bool active() const;

    std::uint64_t framesMixed() const { return frames_.load(std::memory_order_acquire); }

    // Audio thread, while a source renders: the first sample of a requested effect is in the
    // piece being rendered at `offset`.
    void noteEffectStart(int offset);
    std::uint64_t effectStarts() const { return effectStarts_.load(std::memory_order_acquire); }

    // At most one; null for none. The observer must outlive the mixer or be removed first.
    void setObserver(Observer* observer) { observer_.store(observer, std::memory_order_release); }

    // Any thread, at the end of the program: the whole mix, music and effect alike, fades to
    // silence and stays silent. The sources are not asked for another sample once it has.
    void fadeOut(Fade how);
    // The frame from which the mix is silent for good, once the fade has been mixed.
    std::optional<std::uint64_t> silentFrom() const;

private:
    static constexpr std::uint64_t kNotSilent = ~std::uint64_t{0};

    void renderChunk(float* out, int frames);
    void applyEndFade(float* out, int frames);

    std::vector<Input> inputs_;
    std::vector<float> scratch_; // audio thread
    std::atomic<std::uint64_t> frames_{0};

    // Audio-thread state of the block being mixed.
    std::uint64_t blockStart_ = 0;
    int chunkStart_ = 0; // frames of the block mixed before the piece being rendered
    Clock::time_point blockTime_{};

    std::atomic<std::uint64_t> effectStarts_{0};
    std::atomic<Observer*> observer_{nullptr};

    std::atomic<int> endFade_{0}; // 0 until fadeOut(), then 1 + the Fade asked for
    int endFadeLeft_ = kEndFadeFrames; // audio thread
    std::atomic<std::uint64_t> silentFrom_{kNotSilent};
};

} // namespace sound
