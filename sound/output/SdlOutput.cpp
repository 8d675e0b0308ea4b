// SPDX-License-Identifier: GPL-3.0-or-later

#include "SdlOutput.h"

#include "AudioDrivers.h"
#include "SdlDevice.h"

#include <algorithm>

namespace sound {

namespace {

constexpr std::chrono::milliseconds kIdlePoll{100};
// Polls that saw the callback move before a device counts as flowing.
constexpr int kFlowing = 3;
// How long the end of the program waits for the device to close: SDL plays out two blocks
// first, which takes 21 ms at 512 frames.
constexpr std::chrono::milliseconds kCloseLimit{500};

} // namespace

SdlOutput::SdlOutput(Mixer& mixer, Options options, std::function<bool()> wanted)
    : mixer_(mixer),
      options_(options),
      wanted_(std::move(wanted)),
      device_(std::make_unique<SdlDevice>(options.framesPerBuffer)),
      clock_(&Clock::now),
      thread_([this] { run(); })
{ }

SdlOutput::SdlOutput(Mixer& mixer, Options options, std::function<bool()> wanted, Manual manual)
    : mixer_(mixer),
      options_(options),
      wanted_(std::move(wanted)),
      device_(std::move(manual.device)),
      clock_(std::move(manual.clock))
{ }

SdlOutput::~SdlOutput()
{
    if (thread_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_one();
        thread_.join();
    }
    // The device closes with device_, after the thread that called it has ended.
}

void SdlOutput::shutDown()
{
    std::call_once(shutDown_, [this] {
        const bool sounding = state_.load() == State::Running;
        mixer_.fadeOut(sounding ? Mixer::Fade::Ramp : Mixer::Fade::Now);
        if (sounding && thread_.joinable())
            waitForTheFade();
        std::unique_lock lock(mutex_);
        quit_ = true;
        if (!thread_.joinable()) {
            // A manual output: its device is closed here, on the caller's thread.
            if (open_)
                closeDevice(lock, OutputDevice::Close::WithDriver);
            state_.store(State::Closed);
            return;
        }
        closeOnQuit_ = true;
        changed_.notify_one();
        // The program may be ended (exit()) from the output's thread itself, by a library it
        // called: that thread cannot wait for itself.
        if (thread_.get_id() == std::this_thread::get_id())
            return;
        // SDL waits for its sound server without end when the server is frozen (SIGSTOP, or
        // hung): then the program ends without the device closed, rather than not at all.
        if (ended_.wait_for(lock, kCloseLimit, [this] { return threadEnded_; })) {
            lock.unlock();
            thread_.join();
        }
    });
}

// The device pulls in real time, so this waits for the block that holds the end of the fade,
// at most one block and the fade away, and for the driver's silence after it.
void SdlOutput::waitForTheFade()
{
    const int block = std::max(framesPerBuffer_.load(), 1);
    const int tail = silenceBeforeCloseFor(driver(), block);
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(10) +
        std::chrono::microseconds(std::int64_t{Mixer::kEndFadeFrames + 2 * block + tail} * 1'000'000 / kOutputRate);
    while (Clock::now() < deadline) {
        const auto from = mixer_.silentFrom();
        if (from && mixer_.framesMixed() >= *from + static_cast<std::uint64_t>(tail))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void SdlOutput::wake()
{
    {
        std::lock_guard lock(mutex_);
        if (quit_)
            return;
        wakePending_ = true;
        const State s = state_.load();
        if (s == State::Closed || s == State::Paused || (s == State::Failed && clock_() >= nextAttempt_))
            state_.store(State::Starting);
    }
    changed_.notify_one();
}

void SdlOutput::preload()
{
    {
        std::lock_guard lock(mutex_);
        preloadPending_ = true;
    }
    changed_.notify_one();
}

std::string SdlOutput::driver() const
{
    std::lock_guard lock(mutex_);
    return driver_;
}

bool SdlOutput::rendering() const
{
    const State s = state_.load();
    return s == State::Starting || s == State::Running;
}

void SdlOutput::pull(void* self, float* out, int frames)
{
    auto* output = static_cast<SdlOutput*>(self);
    output->mixer_.render(out, frames);
    if (output->mixer_.active()) {
        output->quietFrames_ = 0;
        return;
    }
    output->quietFrames_ += frames;
    if (output->quietFrames_ >= output->options_.pauseAfter.count() * kOutputRate / 1000)
        output->idle_.store(true);
}

// Resumes a paused device or opens a new one, outside the lock.
void SdlOutput::open(std::unique_lock<std::mutex>& lock)
{
    state_.store(State::Starting);
    idle_.store(false);
    lock.unlock();
    quietFrames_ = 0; // the callback is not running here: the device is paused or closed
    bool ok = open_;
    if (open_) {
        device_->pause(false);
    } else {
        ++openAttempts_;
        const auto opened = device_->open(&SdlOutput::pull, this);
        if (opened) {
            ok = open_ = openedBefore_ = true;
            framesPerBuffer_.store(opened->framesPerBuffer);
            std::lock_guard driverLock(mutex_);
            driver_ = opened->driver;
        }
    }
    lock.lock();
    if (ok) {
        state_.store(State::Running);
        lastFrames_ = mixer_.framesMixed();
        lastProgress_ = clock_();
        progressSeen_ = 0;
    } else {
        state_.store(State::Failed);
        nextAttempt_ = clock_() + options_.retryAfter;
    }
}

// Closes the device outside the lock; a wake that came in meanwhile opens it again at once.
void SdlOutput::closeDevice(std::unique_lock<std::mutex>& lock, OutputDevice::Close how)
{
    lock.unlock();
    device_->close(how);
    open_ = false;
    lock.lock();
    state_.store(wakePending_ ? State::Starting : State::Closed);
}

// Running: true once a flowing callback has not come for the stall limit. A device that has not
// got going yet may wait for its server much longer than a block (a PulseAudio null sink asks
// nothing for its first seconds), so only a flow that stops counts.
bool SdlOutput::stalled(Clock::time_point now)
{
    const std::uint64_t frames = mixer_.framesMixed();
    if (frames != lastFrames_) {
        lastFrames_ = frames;
        lastProgress_ = now;
        ++progressSeen_;
        return false;
    }
    return progressSeen_ >= kFlowing && now - lastProgress_ >= options_.stallAfter;
}

std::optional<SdlOutput::Clock::time_point> SdlOutput::step(std::unique_lock<std::mutex>& lock, Clock::time_point now)
{
    const State s = state_.load();
    // A device that has played before is gone for a while (its server died, and may be coming
    // back). A tune that is meant to be playing asks for it again on its own; its position
    // stood still meanwhile, since nothing pulled it.
    const bool noDevice = s == State::Closed || s == State::Failed;
    const bool reopen = noDevice && openedBefore_ && wanted_ && wanted_();

    if (wakePending_ || reopen) {
        if (s == State::Failed && now < nextAttempt_)
            return nextAttempt_; // too soon after a failed attempt: the sound waits for the next
        wakePending_ = false;
        if (s != State::Running)
            open(lock);
        return std::nullopt;
    }
    if (preloadPending_) {
        preloadPending_ = false;
        lock.unlock();
        device_->preload();
        lock.lock();
        return std::nullopt;
    }

    switch (s) {
    case State::Running:
        if (device_->lost() || stalled(now)) {
            // Until a device is back, effects run out in real time instead of waiting for a
            // callback.
            ++losses_;
            closeDevice(lock, OutputDevice::Close::WithDriver);
            return std::nullopt;
        }
        if (idle_.load() && !mixer_.active()) {
            lock.unlock();
            device_->pause(true);
            lock.lock();
            idle_.store(false);
            closeAt_ = clock_() + options_.closeAfter;
            // A wake that came in meanwhile is served next.
            state_.store(wakePending_ ? State::Starting : State::Paused);
            return std::nullopt;
        }
        return now + kIdlePoll;
    case State::Paused:
        if (now >= closeAt_) {
            closeDevice(lock, OutputDevice::Close::KeepDriver);
            return std::nullopt;
        }
        return closeAt_;
    default:
        // Closed, Failed, or Starting without a wake yet: nothing to do until one comes.
        return Clock::time_point::max();
    }
}

void SdlOutput::run()
{
    std::unique_lock lock(mutex_);
    while (!quit_) {
        const auto next = step(lock, clock_());
        if (!next || quit_)
            continue;
        if (*next == Clock::time_point::max())
            changed_.wait(lock);
        else
            changed_.wait_until(lock, *next);
    }
    if (closeOnQuit_ && open_) {
        closeDevice(lock, OutputDevice::Close::WithDriver);
        state_.store(State::Closed);
    }
    lock.unlock();
    device_->threadEnding();
    lock.lock();
    threadEnded_ = true;
    lock.unlock();
    ended_.notify_all();
}

void SdlOutput::runDue()
{
    std::unique_lock lock(mutex_);
    if (quit_)
        return;
    const auto now = clock_();
    for (;;) {
        const auto next = step(lock, now);
        if (next && *next > now)
            return;
    }
}

} // namespace sound
