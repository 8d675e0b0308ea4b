// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "AudioSource.h"
#include "EffectFile.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <string>
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
// asking thread. Effects fade in over 2 ms and out over 5 ms, at their end and when cut off,
// so neither makes a click.
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
    explicit EffectPlayer(std::function<Clock::time_point()> now = &Clock::now) : now_(std::move(now)) { }

    // UI thread, once: decodes these files on a thread of their own. A request for any file
    // before that is done waits for it.
    void prepare(std::vector<std::string> paths);
    // UI thread: waits until the start-up decoding is over.
    void settle();

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
    void setRenderingProbe(std::function<bool()> probe) { probe_ = std::move(probe); }
    // Called on the UI thread whenever a request is handed to the audio thread.
    void setWakeCallback(std::function<void()> wake) { wake_ = std::move(wake); }
    // Called on the audio thread when the first sample of an effect is mixed, with its offset
    // in the block being rendered.
    void setStartObserver(std::function<void(int offset)> observer) { startObserver_ = std::move(observer); }

    // The short beep that stands in for an unplayable file.
    static const Waveform& defaultSound();

    // How many files were read (tests count them).
    std::size_t decodes() const { return sounds_.size(); }

private:
    // A file's decoded sound, or nothing when it is unplayable. Nodes never move, so the
    // audio thread may hold a pointer into one for as long as the player lives.
    using Sounds = std::unordered_map<std::string, std::optional<Waveform>>;

    // What the UI thread hands the audio thread. No sound: cut off and fall silent.
    struct Request {
        std::uint64_t id = 0;
        const Waveform* sound = nullptr;
        bool loop = false;
    };
    // Where the two threads meet: the newest request, and whether the audio thread has taken
    // it yet. The audio thread sets `ended` to a request's id when its last sample has been
    // mixed; the UI thread when nothing rendered it in time.
    struct Channel {
        Request newest;
        bool pending = false;
        std::uint64_t ended = 0;
        Clock::time_point startedAt{}; // when the newest request was handed over
        bool fading = false; // a cut-off effect is still fading out
    };
    // A request being mixed: the current one, or the one cut off and fading out under it.
    struct Voice : Request {
        std::size_t position = 0;
        std::size_t played = 0; // frames since the start, across loops: the fade-in only comes once
        int cutLeft = -1; // frames of the cut's fade-out still to come; -1 while not cut off

        float gain() const;
        bool mix(float* out, std::size_t frames);
    };
    // What the audio thread's channel does.
    enum class State {
        Silent,
        Playing,
    };

    // UI thread.
    const Waveform* soundFor(const std::string& path);
    bool soundingLocked() const; // also active(), on any thread
    void waitUntilEnded(std::uint64_t id);
    bool renderingNow() const { return !probe_ || probe_(); }

    // Audio thread: one function per transition of `state_`.
    void start(const Request& request); // Silent or Playing -> Playing (the old one fades out)
    void cutOff(); // Playing -> Silent, fading out
    void finish(); // Playing -> Silent at the last sample

    const std::function<Clock::time_point()> now_;
    // Set before the output starts and only read afterwards.
    std::function<bool()> probe_;
    std::function<void()> wake_;
    std::function<void(int)> startObserver_;

    // UI thread only.
    Sounds sounds_;
    std::future<Sounds> preparing_; // its destructor waits for the decoding thread

    mutable std::mutex mutex_;
    std::condition_variable ended_; // a synchronous play() waits on it
    Channel channel_; // under mutex_

    // Audio thread only.
    State state_ = State::Silent;
    Voice current_;
    Voice fading_; // no sound when nothing fades
};

} // namespace sound
