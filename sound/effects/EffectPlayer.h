#pragma once

#include "AudioSource.h"
#include "WavCache.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace sound {

// The one-channel effect player behind the play-sound call. At most one effect sounds at a
// time; an effect sounds from its request until its last sample has been rendered.
//
// Flags (SoundFlag): NoStop refuses a request while an effect sounds; every other request cuts
// the sounding effect off first. NoDefault keeps an unplayable file silent; without it the
// built-in beep plays instead. Loop repeats until an interrupting request. Without Async the
// call returns once the sound has ended (a looping sound then plays once, or it would never end).
class EffectPlayer : public AudioSource {
public:
    // Effects enter the mix below full scale, leaving the music room before the limiter.
    static constexpr float kGain = 0.7f;

    EffectPlayer();
    ~EffectPlayer() override;

    // UI thread. Returns true when the requested file started (the fallback beep does not count).
    bool play(const std::string& path, std::uint32_t flags);

    // Audio thread.
    void render(float* out, int frames) override;
    bool active() const override;

    // Whether anything is pulling render() in real time. While nothing is (no audio device), an
    // effect counts as sounding for its real-time length, and a synchronous request waits that
    // long: the game keeps its timing without sound. Without a probe, someone always renders.
    void setRenderingProbe(std::function<bool()> probe);
    // Called on the requesting thread whenever an effect starts, before a synchronous wait.
    void setWakeCallback(std::function<void()> wake);
    // Called on the audio thread when the first sample of a request is mixed, with its offset
    // in the block being rendered.
    void setStartObserver(std::function<void(int offset)> observer);

    // The short beep that stands in for an unplayable file.
    static std::shared_ptr<const Waveform> defaultSound();

    std::size_t decodes() const { return cache_.decodes(); }

private:
    using Clock = std::chrono::steady_clock;

    bool renderingNow() const;
    void expireUnrenderedLocked(Clock::time_point now);
    void waitUntilEnded(std::uint64_t request, Clock::time_point startedAt, std::size_t frames);

    WavCache cache_;
    std::function<bool()> probe_;
    std::function<void()> wake_;
    std::function<void(int)> startObserver_;

    mutable std::mutex mutex_;
    std::condition_variable ended_;
    std::shared_ptr<const Waveform> current_; // released on the UI thread only
    std::size_t position_ = 0;
    bool loop_ = false;
    bool started_ = false;
    std::uint64_t request_ = 0;
    Clock::time_point startedAt_{};
    std::atomic<bool> sounding_{false};
};

} // namespace sound
