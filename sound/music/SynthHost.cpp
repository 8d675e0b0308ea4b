// SPDX-License-Identifier: GPL-3.0-or-later

#include "SynthHost.h"

#include <pthread.h>
#include <sched.h>

#include <system_error>
#include <utility>

namespace sound {

namespace {

constexpr int kCutWaitMs = 50;

} // namespace

SynthHost::SynthHost(Loader loader, Start start) : loader_(std::move(loader))
{
    if (!loader_) {
        state_.store(State::Absent, std::memory_order_release);
        return;
    }
    busy_ = true;
    if (start == Start::Now)
        this->start();
}

void SynthHost::start()
{
    if (!loader_)
        return;
    Loader loader = std::move(loader_);
    loader_ = nullptr;
    try {
        thread_ = std::thread([this, loader = std::move(loader)] { run(loader); });
    } catch (const std::system_error&) {
        // No thread to load on: the music plays on in silence rather than stop the game.
        {
            std::lock_guard lock(mutex_);
            busy_ = false;
            request_.reset();
            state_.store(State::Absent, std::memory_order_release);
        }
        idle_.notify_all();
    }
}

SynthHost::~SynthHost()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void SynthHost::prepare(std::shared_ptr<const MidiSequence> tune, std::uint64_t serial,
                        const std::atomic<bool>* cutting)
{
    if (state() == State::Absent || !tune)
        return;
    {
        std::lock_guard lock(mutex_);
        // The same tune as the last, its instruments already in (a tune opened again to loop, as
        // the game does): nothing to read, and the tune need not wait for the loader to wake.
        if (state() == State::Ready && !busy_ && !request_ && preparedTune_ && *preparedTune_ == *tune) {
            prepared_.store(serial, std::memory_order_release);
            return;
        }
        request_.emplace(Request{std::move(tune), serial, cutting});
    }
    wake_.notify_all();
}

bool SynthHost::waitUntilIdle(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, timeout, [this] { return !busy_ && !request_; });
}

void SynthHost::yieldToOthers()
{
    // A batch thread: the same share of the CPU as any other program's thread, but it never takes
    // the processor from one when it wakes, so the window and the audio thread go first. The
    // lowest priority (nice 19) left a tune's instruments waiting for seconds behind any other
    // program that kept the processors busy, and an SF3 font must decode them (docs/SOUND.md).
    // The thread starts after the window's first frame, which therefore needs no protecting.
    sched_param batch{};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &batch);
}

void SynthHost::run(const Loader& loader)
{
    std::shared_ptr<SynthEngine> engine = loader();
    // Reading instruments is a good deal of work, and a player who chooses Start waits for it.
    yieldToOthers();
    {
        std::lock_guard lock(mutex_);
        engine_.store(engine.get(), std::memory_order_release);
        if (engine)
            engines_.push_back(std::move(engine));
        state_.store(engine_.load() ? State::Ready : State::Absent, std::memory_order_release);
        busy_ = false;
        if (state() != State::Ready)
            request_.reset();
    }
    idle_.notify_all();
    if (state() != State::Ready)
        return;

    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || request_; });
        if (quit_)
            return;
        auto [tune, serial, cutting] = std::move(*request_);
        request_.reset();
        busy_ = true;
        lock.unlock();
        // A fade takes two or three blocks of a running device. Without one nobody renders and
        // the fade never ends, so the wait is short and bounded.
        for (int waited = 0; cutting != nullptr && cutting->load(std::memory_order_acquire) && waited < kCutWaitMs;
             ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        prepareOnAnEngine(loader, *tune);
        prepared_.store(serial, std::memory_order_release);
        lock.lock();
        preparedTune_ = std::move(tune);
        busy_ = false;
        idle_.notify_all();
    }
}

void SynthHost::prepareOnAnEngine(const Loader& loader, const MidiSequence& tune)
{
    // The audio thread only try-locks an engine, so holding it while the font is read costs at
    // most a few skipped blocks of a tune that is not playing yet.
    const auto prepareOn = [&tune](SynthEngine& engine) {
        std::lock_guard engineLock(engine.mutex());
        return engine.prepare(tune);
    };
    if (prepareOn(*engine_.load()))
        return;
    // A font that cannot give the tune its instruments gives way to the next one that can. When
    // none can, the engine in use stays, and plays the tune in silence.
    for (std::shared_ptr<SynthEngine> next = loader(); next && next.get() != engine_.load(); next = loader()) {
        if (prepareOn(*next)) {
            engine_.store(next.get(), std::memory_order_release);
            engines_.push_back(std::move(next));
            return;
        }
    }
}

} // namespace sound
