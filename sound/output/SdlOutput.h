#pragma once

#include "Mixer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace sound {

// The one audio device. It is opened on the first sound, paused once nothing has sounded for
// a moment and closed after a longer quiet, so a stopped game costs no CPU. Every SDL call that
// can block runs on the output's own thread: wake() only sets a flag.
//
// The driver is chosen on that thread too (see AudioDrivers.h): PipeWire when its server runs,
// then PulseAudio, then ALSA, unless the user has named one in SDL_AUDIODRIVER.
//
// Without a device (no sound card, no server, a bad SDL_AUDIODRIVER) the game stays silent.
// Opening is tried again at the next sound, at most once per retry interval; a sound that
// comes sooner is kept and served when the interval ends. A device that goes away while
// playing (the server died) is closed with its driver, so the next sound starts afresh.
class SdlOutput {
public:
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
    // How many times a running device was lost and closed.
    int losses() const { return losses_.load(); }
    // The SDL driver of the open device, or of the last one; empty before any opened.
    std::string driver() const;

private:
    static void pull(void* self, float* out, int frames);
    void run();
    bool start();
    bool openOnCurrentDriver();
    void closeDevice(std::unique_lock<std::mutex>& lock);
    void loseDevice(std::unique_lock<std::mutex>& lock);
    bool stalled(std::chrono::steady_clock::time_point now);

    Mixer& mixer_;
    const Options options_;

    mutable std::mutex mutex_;
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
    std::atomic<int> losses_{0};
    std::string driver_; // guarded by mutex_

    // Output-thread only.
    bool calledSdl_ = false;
    bool audioInitialised_ = false;
    std::uint32_t device_ = 0;
    bool serverSeen_ = false;
    std::uint64_t lastFrames_ = 0;
    std::chrono::steady_clock::time_point lastProgress_{};
    int progressSeen_ = 0;
    std::int64_t quietFrames_ = 0; // audio thread

    std::thread thread_;
};

} // namespace sound
