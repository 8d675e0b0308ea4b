// SPDX-License-Identifier: GPL-3.0-or-later

#include "SynthHost.h"

#include "FluidSynthEngine.h"

#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <system_error>
#include <utility>

namespace sound {

namespace {

constexpr int kCutWaitMs = 50;

bool readableFile(const std::string& path)
{
    struct stat info{};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), R_OK) == 0;
}

// A batch thread: the same share of the CPU as any other program's thread, but it never takes
// the processor from one when it wakes, so the window and the audio thread go first. The lowest
// priority (nice 19) left a tune's instruments waiting for seconds behind any other program that
// kept the processors busy, and an SF3 font must decode them (docs/SOUND.md).
void yieldToOthers()
{
    sched_param batch{};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &batch);
}

} // namespace

std::optional<std::string> findSoundFont(std::span<const std::string_view> places)
{
    for (std::string_view place : places) {
        if (readableFile(std::string(place)))
            return std::string(place);
    }
    return std::nullopt;
}

SynthHost::SynthHost(std::vector<std::string> places, Start start) : places_(std::move(places))
{
    if (places_.empty()) {
        busy_ = false;
        state_.store(State::Absent, std::memory_order_release);
    } else if (start == Start::Now) {
        this->start();
    }
}

void SynthHost::start()
{
    std::lock_guard lock(mutex_);
    if (thread_.joinable() || state() == State::Absent)
        return;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // No thread to load on: the music plays on in silence rather than stop the game.
        busy_ = false;
        request_.reset();
        state_.store(State::Absent, std::memory_order_release);
        changed_.notify_all();
    }
}

SynthHost::~SynthHost()
{
    std::unique_lock lock(mutex_);
    quit_ = true;
    changed_.notify_all();
    lock.unlock();
    if (thread_.joinable())
        thread_.join();
}

void SynthHost::prepare(std::shared_ptr<const MidiSequence> tune, std::uint64_t serial)
{
    std::lock_guard lock(mutex_);
    if (!tune || state() == State::Absent)
        return;
    // The same tune as the last, its instruments already in (a tune opened again to loop, as the
    // game does): nothing to read, and the tune need not wait for the loader to wake.
    if (!busy_ && !request_ && preparedTune_ && *preparedTune_ == *tune) {
        prepared_.store(serial, std::memory_order_release);
        return;
    }
    request_.emplace(Request{std::move(tune), serial});
    changed_.notify_all();
}

bool SynthHost::waitUntilIdle(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return !busy_ && !request_; });
}

void SynthHost::run()
{
    // The thread starts after the window's first frame, which therefore needs no protecting; a
    // player who chooses Start waits for the tune's instruments.
    yieldToOthers();
    std::unique_ptr<FluidSynthEngine> first = nextFont();
    std::unique_lock lock(mutex_);
    engine_.store(first.get(), std::memory_order_release);
    state_.store(first ? State::Ready : State::Absent, std::memory_order_release);
    if (first)
        engines_.push_back(std::move(first));
    else
        request_.reset();
    busy_ = false;
    changed_.notify_all();
    while (engine()) {
        changed_.wait(lock, [this] { return quit_ || request_; });
        if (quit_)
            return;
        Request request = std::move(*request_);
        request_.reset();
        busy_ = true;
        lock.unlock();
        // A fade takes two or three blocks of a running device. Without one nobody renders and
        // the fade never ends, so the wait is short and bounded.
        for (int waited = 0; cutting.load(std::memory_order_acquire) && waited < kCutWaitMs; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        prepareOnAnEngine(*request.tune);
        prepared_.store(request.serial, std::memory_order_release);
        lock.lock();
        preparedTune_ = std::move(request.tune);
        busy_ = false;
        changed_.notify_all();
    }
}

std::unique_ptr<FluidSynthEngine> SynthHost::nextFont()
{
    while (nextPlace_ < places_.size()) {
        const std::string& place = places_[nextPlace_++];
        std::error_code error;
        const std::filesystem::path file = std::filesystem::canonical(place, error);
        if (!readableFile(place) || error || std::ranges::find(tried_, file) != tried_.end())
            continue;
        tried_.push_back(file);
        if (std::unique_ptr<FluidSynthEngine> engine = FluidSynthEngine::create(file.string()))
            return engine;
    }
    return nullptr;
}

void SynthHost::prepareOnAnEngine(const MidiSequence& tune)
{
    // The audio thread only try-locks an engine, so holding it while the font is read costs at
    // most a few skipped blocks of a tune that is not playing yet.
    const auto prepareOn = [&tune](FluidSynthEngine& engine) {
        std::lock_guard lock(engine.mutex());
        return engine.prepare(tune);
    };
    if (prepareOn(*engine()))
        return;
    // A font that cannot give the tune its instruments gives way to the next one that can. When
    // none can, the engine in use stays, and plays the tune in silence.
    while (std::unique_ptr<FluidSynthEngine> next = nextFont()) {
        if (prepareOn(*next)) {
            engine_.store(next.get(), std::memory_order_release);
            engines_.push_back(std::move(next));
            return;
        }
    }
}

} // namespace sound
