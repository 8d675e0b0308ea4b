// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "AudioSource.h"
#include "EffectLoader.h"

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
// time; an effect sounds from its request until its last sample has been rendered, and a file
// still being decoded for a request counts as sounding already.
//
// Flags (SoundFlag): NoStop refuses a request while an effect sounds; every other request cuts
// the sounding effect off first. NoDefault keeps an unplayable file silent; without it the
// built-in beep plays instead. Loop repeats until an interrupting request. Without Async the
// call returns once the sound has ended (a looping sound then plays once, or it would never end).
//
// An asynchronous request never reads the file: a file not decoded yet is decoded on the
// loader's thread and starts when it is ready. Effects fade in over a couple of milliseconds
// and out over five, at their end and when cut off, so neither makes a click.
class EffectPlayer : public AudioSource {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr int kFadeInFrames = kOutputRate / 500; // 2 ms
    static constexpr int kFadeOutFrames = kOutputRate / 200; // 5 ms

    // `now` tells the time that an effect lasts while nothing renders; tests move it by hand.
    explicit EffectPlayer(EffectLoader::Decoder decoder = loadEffectFile,
                          std::function<Clock::time_point()> now = &Clock::now);
    ~EffectPlayer() override;

    // UI thread. Returns true when the request was taken: the file started, or is being
    // decoded to start (a file that turns out unplayable then stays silent). False when it was
    // refused, or the file is known to be unplayable (the fallback beep does not count).
    bool play(const std::string& path, std::uint32_t flags);

    // Audio thread.
    void render(float* out, int frames) override;
    bool active() const override;

    // Whether anything is pulling render() in real time. While nothing is (no audio device), an
    // effect counts as sounding for its real-time length, and a synchronous request waits that
    // long: the game keeps its timing without sound. Without a probe, someone always renders.
    void setRenderingProbe(std::function<bool()> probe);
    // Called whenever an effect is ready to sound (on the requesting thread, or on the loader's
    // once a decode finishes), before a synchronous wait.
    void setWakeCallback(std::function<void()> wake);
    // Called on the audio thread when the first sample of a request is mixed, with its offset
    // in the block being rendered.
    void setStartObserver(std::function<void(int offset)> observer);
    // Opens the decoding libraries on the loader's thread.
    void preload() { loader_.preload(); }
    // Ends the loader's thread: after this no callback comes from it. The owner calls it before
    // it takes away what the wake callback reaches.
    void stopLoading() { loader_.stop(); }

    // The short beep that stands in for an unplayable file.
    static std::shared_ptr<const Waveform> defaultSound();

    // For tests and tools: waits until no decode is pending, then says whether the last
    // request that was taken got its own file playing (rather than silence or the beep).
    bool settle(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    bool lastRequestPlayed() const;
    std::size_t decodes() const { return loader_.decodes(); }

private:
    bool renderingNow() const;
    void expireUnrenderedLocked(Clock::time_point now);
    void startLocked(std::shared_ptr<const Waveform> sound, Clock::time_point at);
    void cutLocked();
    void decoded(std::uint64_t request, std::shared_ptr<const Waveform> sound);
    void waitUntilEnded(std::uint64_t request, Clock::time_point startedAt, std::size_t frames);
    float envelope(std::size_t position, std::size_t total) const;

    // Three threads meet here: the UI thread (play), the audio thread (render, active) and the
    // loader's (decoded). Set before the output starts and only read afterwards, by any of them:
    const std::function<Clock::time_point()> now_;
    std::function<bool()> probe_;
    std::function<void()> wake_;
    std::function<void(int)> startObserver_;

    // Everything from here to loader_ is read and written under mutex_ only, but for the two
    // atomics' loads without it.
    mutable std::mutex mutex_;
    std::condition_variable ended_; // a synchronous play() waits on it; the other two notify
    std::shared_ptr<const Waveform> current_; // set by play() or decoded(), released on the UI thread only
    std::size_t position_ = 0; // set where current_ is, moved on by the audio thread
    std::size_t played_ = 0; // the same; frames since the start, across loops: the fade-in only comes once
    bool loop_ = false; // set with current_, read by the audio thread
    bool started_ = false; // set by the audio thread at the first frame it mixes
    bool pending_ = false; // UI thread and loader's: a decode is running for the newest request
    bool noDefault_ = true; // UI thread and loader's
    bool lastPlayed_ = false; // UI thread and loader's
    std::uint64_t request_ = 0; // UI thread counts; the loader's compares
    Clock::time_point startedAt_{}; // set with current_
    std::atomic<bool> sounding_{false}; // any thread may end the sound; read without the lock to skip work

    // The effect cut off by the last interrupting request, fading out under the new one. The UI
    // thread sets it and releases it; the audio thread plays it out.
    std::shared_ptr<const Waveform> tail_;
    std::size_t tailPosition_ = 0;
    bool tailLoops_ = false;
    int tailLeft_ = 0;
    std::atomic<bool> tailSounding_{false}; // read by the audio thread without the lock

    EffectLoader loader_; // last: its thread, which calls back into the player, stops first
};

} // namespace sound
