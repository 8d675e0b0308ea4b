// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "MidiFile.h"
#include "SynthEngine.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace sound {

// Brings the synthesiser up on a thread of its own, so that reading a SoundFont never holds up
// the window, and then loads the instruments of each tune that is opened. The audio thread
// reads state() and engine(); the UI thread only queues work.
class SynthHost {
public:
    enum class State { Loading, Ready, Absent };

    // Loads the next synthesiser to try, each call the next SoundFont on the search list; null
    // when there is none left. Runs on the loader thread.
    using Loader = std::function<std::shared_ptr<SynthEngine>()>;

    // When the loader thread begins: at once, or only when start() is called, so that a
    // program can keep the work off its start-up path. Until then the host reads Loading.
    enum class Start { Now, WhenTold };

    // Without a loader there will never be a synthesiser, and no thread is started.
    explicit SynthHost(Loader loader, Start start = Start::Now);
    ~SynthHost();
    SynthHost(const SynthHost&) = delete;
    SynthHost& operator=(const SynthHost&) = delete;

    // Owner's thread: begins loading, if it has not begun; later calls do nothing.
    void start();

    // Lets every other thread go first whenever it wakes, while the calling thread keeps its
    // full share of the CPU. The loader thread goes there once its loader returns; a loader calls
    // it sooner, as soon as it holds nothing that another thread might wait for.
    static void yieldToOthers();

    State state() const { return state_.load(std::memory_order_acquire); }
    // Valid once state() is Ready, for as long as the host lives. Another one takes its place
    // when its font cannot give a tune its instruments and the next font can: read
    // preparedSerial() first, and the engine read after it is the one that tune was prepared on.
    SynthEngine* engine() const { return engine_.load(std::memory_order_acquire); }

    // UI thread: load the instruments of the tune opened under `serial`. Only the newest
    // request counts; an older one not yet started is dropped. A tune with the very messages of
    // the last one prepared counts as prepared at once. While `cutting` reads true (the audio
    // thread is still fading out what sounded), the loader waits a little before it takes the
    // synthesiser: a fade it cut short would end in a step.
    void prepare(std::shared_ptr<const MidiSequence> tune, std::uint64_t serial,
                 const std::atomic<bool>* cutting = nullptr);
    // The serial of the newest tune whose instruments are loaded.
    std::uint64_t preparedSerial() const { return prepared_.load(std::memory_order_acquire); }

    // For tests and tools: waits until loading and every queued request are done (or the
    // timeout has passed, as it will while a WhenTold host is still waiting for start()).
    bool waitUntilIdle(std::chrono::milliseconds timeout);

private:
    void run(const Loader& loader);
    // Loader thread: prepares `tune` on the engine in use, or else on the first of the next fonts
    // that can give it its instruments, which then takes the engine's place.
    void prepareOnAnEngine(const Loader& loader, const MidiSequence& tune);

    Loader loader_; // the owner's, until start() hands it to the thread

    // The loader thread writes these; the audio thread reads them without a lock.
    std::atomic<State> state_{State::Loading};
    std::atomic<SynthEngine*> engine_{nullptr};
    std::atomic<std::uint64_t> prepared_{0};
    // Every engine that has been in use, kept until the host goes: the audio thread may still
    // hold the one replaced. Loader thread only.
    std::vector<std::shared_ptr<SynthEngine>> engines_;

    // The rest is shared by the UI and the loader thread under mutex_.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    struct Request {
        std::shared_ptr<const MidiSequence> tune;
        std::uint64_t serial = 0;
        const std::atomic<bool>* cutting = nullptr;
    };
    std::optional<Request> request_;
    std::shared_ptr<const MidiSequence> preparedTune_; // that of the last request done
    bool busy_ = false;
    bool quit_ = false;
    std::thread thread_;
};

} // namespace sound
