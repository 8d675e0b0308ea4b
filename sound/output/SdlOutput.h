// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "Mixer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace sound {

// The one audio device. It is opened on the first sound, paused once nothing has sounded for
// a moment and closed after a longer quiet, so a stopped game costs no CPU. Every call that
// can block on the device runs on the output's own thread: wake() only sets a flag.
//
// Without a device (no sound card, no server, a bad SDL_AUDIODRIVER) the game stays silent.
// Opening is tried again at the next sound, at most once per retry interval; a sound that
// comes sooner is kept and served when the interval ends. A device that goes away while
// playing (the server died) is closed with its driver. Once a device has played, a tune that
// is meant to be playing (`wanted`) does not wait for a sound: the output tries again every
// retry interval on its own, and the tune goes on from where the lost device left it.
//
// SDL's driver is chosen at every open (AudioDrivers.h): PipeWire when its server runs, then
// PulseAudio, then ALSA, unless the user has named one in SDL_AUDIODRIVER.
class SdlOutput {
public:
    using Clock = std::chrono::steady_clock;

    struct Options {
        // 0: the block size that suits the driver in use.
        int framesPerBuffer = 0;
        std::chrono::milliseconds pauseAfter{500};
        // A paused SDL device still feeds the server silence, which keeps its stream and sink
        // running; a quick Start after Stop is all that waiting longer would save.
        std::chrono::milliseconds closeAfter{1000};
        std::chrono::milliseconds retryAfter{500};
        // A running device whose callback stops coming for this long is taken for lost. SDL's
        // PipeWire driver does not notice when its server dies; it just stops calling.
        std::chrono::milliseconds stallAfter{1000};
    };

    enum class State { Closed, Starting, Running, Paused, Failed };

    // `wanted`, asked on the output's thread, says whether something is meant to sound without
    // another request to come (a playing tune).
    SdlOutput(Mixer& mixer, Options options, std::function<bool()> wanted = {});
    explicit SdlOutput(Mixer& mixer) : SdlOutput(mixer, Options{}) { }
    ~SdlOutput();
    SdlOutput(const SdlOutput&) = delete;
    SdlOutput& operator=(const SdlOutput&) = delete;

    // Any thread: something has started to sound. Never blocks on the device.
    void wake();
    // Any thread, at the end of the program: fades the mix out (Mixer::fadeOut), waits while the
    // device plays the fade and what its driver still needs of silence behind it, then has the
    // output's thread close the device and end. SDL's audio thread has ended when it returns,
    // and no later request opens the device again. A device that stops pulling is waited for
    // no longer than the fade and a few blocks would take, and one whose server does not answer
    // the close for half a second is left open (the caller ends the process). Later calls
    // return at once.
    void shutDown();

    // True while the mixer is pulled in real time or is about to be (opening, resuming).
    bool rendering() const;
    State state() const { return state_.load(); }
    int framesPerBuffer() const { return framesPerBuffer_.load(); }
    int openAttempts() const { return openAttempts_.load(); }
    // How many times a running device was lost and closed.
    int losses() const { return losses_.load(); }
    // The SDL driver of the open device, or of the last one; empty before any opened.
    std::string driver() const;

private:
    enum class Close {
        KeepDriver, // a quiet close: the next open may use the same driver again
        WithDriver, // the device went away under us, and its driver's connection with it
    };

    static void pull(void* self, std::uint8_t* stream, int bytes);
    void run();
    // Does what is due at `now`, the mutex held; returns when to look again, or nothing to
    // look again at once.
    std::optional<Clock::time_point> step(std::unique_lock<std::mutex>& lock, Clock::time_point now);
    void open(std::unique_lock<std::mutex>& lock);
    void closeDevice(std::unique_lock<std::mutex>& lock, Close how);
    // SDL, on the output's thread only; every one of these may block for a while.
    static void setUp();
    bool openSdl();
    bool openOnCurrentDriver();
    void quitAudio();
    bool stalled(Clock::time_point now);
    void waitForTheFade();

    Mixer& mixer_;
    const Options options_;
    const std::function<bool()> wanted_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool quit_ = false; // the thread is to end, and no request opens the device again
    bool closeOnQuit_ = false; // and close the device before it does
    bool threadEnded_ = false;
    std::condition_variable ended_;
    bool wakePending_ = false;
    Clock::time_point nextAttempt_{};
    Clock::time_point closeAt_{};

    std::atomic<State> state_{State::Closed};
    std::atomic<bool> idle_{false};
    std::atomic<int> framesPerBuffer_{0};
    std::atomic<int> openAttempts_{0};
    std::atomic<int> losses_{0};
    std::string driver_; // guarded by mutex_

    // Output-thread only.
    bool open_ = false;
    std::uint32_t device_ = 0; // the SDL_AudioDeviceID while open_; SDL's thread pulls `this`
    bool audioInitialised_ = false; // an SDL driver is up
    bool serverSeen_ = false; // a sound server has served this process
    bool openedBefore_ = false; // a device has played: a failure now is an outage
    std::uint64_t lastFrames_ = 0;
    Clock::time_point lastProgress_{};
    int progressSeen_ = 0;
    std::int64_t quietFrames_ = 0; // audio thread

    std::once_flag shutDown_;
    std::thread thread_;
};

} // namespace sound
