// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "AudioSource.h"
#include "Waveform.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace sound {

// The one-channel effect player behind the play-sound call. At most one effect sounds at a
// time; an effect sounds from its request until its last sample has been rendered.
//
// Flags (SoundFlag): NoStop refuses a request while an effect sounds; every other request cuts
// the sounding effect off first. NoDefault keeps an unplayable file silent; without it the
// built-in beep plays instead. Loop repeats until an interrupting request. Without Async the
// call returns once the sound has ended (a looping sound then plays once, or it would never end).
//
// Every file is decoded once. The game's three are decoded at start-up on a thread that ends
// when they are done (prepare()); any other file the first time it is asked for, on the
// asking thread. Effects fade in over a couple of milliseconds and out over five, at their end
// and when cut off, so neither makes a click.
//
// Threads: the UI thread decides (refuse, or hand a request over); the audio thread owns what
// sounds, as the states below, and takes the newest request at the start of each block. The
// two meet only in `Channel`, under one mutex.
class EffectPlayer : public AudioSource {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr int kFadeInFrames = kOutputRate / 500; // 2 ms
    static constexpr int kFadeOutFrames = kOutputRate / 200; // 5 ms

    // `now` tells the time that an effect lasts while nothing renders; tests move it by hand.
    explicit EffectPlayer(std::function<Clock::time_point()> now = &Clock::now);
    ~EffectPlayer() override;
    EffectPlayer(const EffectPlayer&) = delete;
    EffectPlayer& operator=(const EffectPlayer&) = delete;

    // UI thread, once: decodes these files on a thread of their own. A request for one of them
    // before that is done waits for it.
    void prepare(std::vector<std::string> paths);

    // UI thread. True when the file started; false when the request was refused or the file is
    // unplayable (the fallback beep does not count).
    bool play(const std::string& path, std::uint32_t flags);

    // Audio thread.
    void render(float* out, int frames) override;
    // Any thread.
    bool active() const override;

    // Whether anything is pulling render() in real time. While nothing is (no audio device), an
    // effect counts as sounding for its real-time length, and a synchronous request waits that
    // long: the game keeps its timing without sound. Without a probe, someone always renders.
    void setRenderingProbe(std::function<bool()> probe);
    // Called on the UI thread whenever an effect is handed to the audio thread.
    void setWakeCallback(std::function<void()> wake);
    // Called on the audio thread when the first sample of a request is mixed, with its offset
    // in the block being rendered.
    void setStartObserver(std::function<void(int offset)> observer);

    // The short beep that stands in for an unplayable file.
    static std::shared_ptr<const Waveform> defaultSound();

    // For tests and tools: waits until the start-up decoding is over; whether the last request
    // that was taken got its own file playing (rather than silence or the beep); how many files
    // were decoded.
    void settle();
    bool lastRequestPlayed() const { return lastPlayed_; }
    std::size_t decodes() const { return sounds_.size(); }

private:
    using Sounds = std::unordered_map<std::string, std::shared_ptr<const Waveform>>;

    // A request handed from the UI thread to the audio thread. No sound: cut off and fall silent.
    struct Request {
        std::uint64_t id = 0;
        const Waveform* sound = nullptr;
        bool loop = false;
    };
    // Where the two threads meet. `request` is the newest request not yet taken; the audio
    // thread sets `ended` to a request's id when its last sample has been mixed, the UI thread
    // when nothing renders and its real-time length has passed.
    struct Channel {
        std::optional<Request> request;
        std::uint64_t posted = 0;
        std::uint64_t ended = 0;
        Clock::time_point startedAt{};
        std::size_t frames = 0;
        bool loop = false;
        bool fading = false; // a cut-off effect is still fading out
    };
    // One sound being mixed: the current one, or the one fading out under it.
    struct Voice {
        std::uint64_t id = 0;
        const Waveform* sound = nullptr;
        bool loop = false;
        std::size_t position = 0;
        std::size_t played = 0; // frames since the start, across loops: the fade-in only comes once
        int fadeLeft = 0; // frames of the cut's fade-out still to come
    };
    // What the audio thread's channel does.
    enum class State {
        Silent,
        Playing,
    };

    // UI thread.
    std::shared_ptr<const Waveform> soundFor(const std::string& path);
    bool soundingLocked(Clock::time_point now);
    void waitUntilEnded(std::uint64_t id);
    bool renderingNow() const;

    // Audio thread: one function per transition of `state_`.
    void start(const Request& request); // Silent or Playing -> Playing (the old one fades out)
    void cutOff(); // Playing -> Silent, fading out
    void finish(); // Playing -> Silent at the last sample
    void mixCurrent(float* out, std::size_t frames);
    void mixFading(float* out, std::size_t frames);
    float envelope() const;

    const std::function<Clock::time_point()> now_;
    // Set before the output starts and only read afterwards.
    std::function<bool()> probe_;
    std::function<void()> wake_;
    std::function<void(int)> startObserver_;

    // UI thread only (the decoding thread fills `prepared_` and is joined before it is read).
    Sounds sounds_;
    Sounds prepared_;
    std::thread preparing_;
    bool lastPlayed_ = false;

    mutable std::mutex mutex_;
    std::condition_variable ended_; // a synchronous play() waits on it
    Channel channel_; // under mutex_

    // Audio thread only.
    State state_ = State::Silent;
    Voice current_;
    Voice fading_;
};

} // namespace sound
