#pragma once

#include "Mixer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace sound {

// The one audio device. It is opened on the first sound, paused once nothing has sounded for
// a moment and closed after a longer quiet, so a stopped game costs no CPU. Every SDL call that
// can block runs on the output's own thread: wake() only sets a flag.
//
// Without a device (no sound card, a bad SDL_AUDIODRIVER) the game stays silent, and opening is
// tried again at most once per retry interval, on the next sound after it.
class SdlOutput {
public:
    struct Options {
        int framesPerBuffer = 512;
        std::chrono::milliseconds pauseAfter{500};
        std::chrono::milliseconds closeAfter{5000};
        std::chrono::milliseconds retryAfter{10000};
    };

    enum class State { Closed, Starting, Running, Paused, Failed };

    SdlOutput(Mixer& mixer, Options options);
    explicit SdlOutput(Mixer& mixer) : SdlOutput(mixer, Options{}) { }
    ~SdlOutput();
    SdlOutput(const SdlOutput&) = delete;
    SdlOutput& operator=(const SdlOutput&) = delete;

    // Any thread: something has started to sound. Never blocks on the device.
    void wake();
    // Any thread: open SDL on the output's thread now, so that neither the first sound nor the
    // first effect has to. Never blocks.
    void preload();

    // True while the mixer is pulled in real time or is about to be (opening, resuming).
    bool rendering() const;
    State state() const { return state_.load(); }
    int framesPerBuffer() const { return framesPerBuffer_.load(); }
    int openAttempts() const { return openAttempts_.load(); }

private:
    static void pull(void* self, float* out, int frames);
    void run();
    bool start();
    void closeDevice(std::unique_lock<std::mutex>& lock);

    Mixer& mixer_;
    const Options options_;

    std::mutex mutex_;
    std::condition_variable changed_;
    bool quit_ = false;
    bool wakePending_ = false;
    bool preloadPending_ = false;
    std::chrono::steady_clock::time_point nextAttempt_{};
    std::chrono::steady_clock::time_point closeAt_{};

    std::atomic<State> state_{State::Closed};
    std::atomic<bool> idle_{false};
    std::atomic<int> framesPerBuffer_{0};
    std::atomic<int> openAttempts_{0};

    // Output-thread only.
    bool calledSdl_ = false;
    bool audioInitialised_ = false;
    std::uint32_t device_ = 0;
    std::int64_t quietFrames_ = 0; // audio thread

    std::thread thread_;
};

} // namespace sound
