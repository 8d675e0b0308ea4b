#include "SdlOutput.h"

#include "AudioDrivers.h"
#include "SdlBackend.h"

#include <algorithm>
#include <cstdlib>

namespace sound {

namespace {

constexpr std::chrono::milliseconds kIdlePoll{100};
// Polls that saw the callback move before a device counts as flowing.
constexpr int kFlowing = 3;

} // namespace

SdlOutput::SdlOutput(Mixer& mixer, Options options) : mixer_(mixer), options_(options), thread_([this] { run(); })
{ }

SdlOutput::~SdlOutput()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_one();
    thread_.join();
    if (device_ != 0)
        sdl::closeDevice(device_);
    if (audioInitialised_)
        sdl::quitAudio();
}

void SdlOutput::wake()
{
    {
        std::lock_guard lock(mutex_);
        wakePending_ = true;
        const State s = state_.load();
        if (s == State::Closed || s == State::Paused ||
            (s == State::Failed && std::chrono::steady_clock::now() >= nextAttempt_))
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

// Output thread, mutex not held. Resumes a paused device or opens a new one.
bool SdlOutput::start()
{
    quietFrames_ = 0; // the callback is not running here: the device is paused or closed
    if (device_ != 0) {
        sdl::pauseDevice(device_, false);
        return true;
    }
    ++openAttempts_;
    calledSdl_ = true;
    // A driver kept up since the last quiet close is tried first: it worked, and starting one
    // costs a round trip to the server.
    if (audioInitialised_) {
        if (openOnCurrentDriver())
            return true;
        sdl::quitAudio();
        audioInitialised_ = false;
    }
    const char* userDriver = std::getenv("SDL_AUDIODRIVER");
    DriverSituation situation;
    situation.userChoice = userDriver != nullptr && *userDriver != '\0';
    situation.pipewireRunning = !situation.userChoice && pipewireRunning();
    situation.serverSeen = serverSeen_;
    for (const std::string& name : driversToTry(situation)) {
        if (!sdl::initAudio(name.empty() ? nullptr : name.c_str()))
            continue;
        audioInitialised_ = true;
        if (openOnCurrentDriver())
            return true;
        sdl::quitAudio();
        audioInitialised_ = false;
    }
    return false;
}

// Output thread, mutex not held, a driver up.
bool SdlOutput::openOnCurrentDriver()
{
    const std::string name = sdl::currentDriver();
    const int frames = options_.framesPerBuffer > 0 ? options_.framesPerBuffer : framesPerBufferFor(name);
    const auto opened = sdl::openDevice(frames, &SdlOutput::pull, this);
    if (!opened)
        return false;
    device_ = opened->id;
    framesPerBuffer_.store(opened->framesPerBuffer);
    serverSeen_ = serverSeen_ || isServerDriver(name);
    std::lock_guard lock(mutex_);
    driver_ = name;
    return true;
}

// Closes the device outside the lock; a wake that came in meanwhile opens it again at once.
void SdlOutput::closeDevice(std::unique_lock<std::mutex>& lock)
{
    lock.unlock();
    sdl::closeDevice(device_);
    device_ = 0;
    lock.lock();
    state_.store(wakePending_ ? State::Starting : State::Closed);
}

// The device went away under us (the server died or hung). Its driver goes with it: SDL's
// server drivers keep one connection for all devices, and a dead one opens nothing more.
void SdlOutput::loseDevice(std::unique_lock<std::mutex>& lock)
{
    ++losses_;
    lock.unlock();
    sdl::closeDevice(device_);
    device_ = 0;
    sdl::quitAudio();
    audioInitialised_ = false;
    lock.lock();
    state_.store(wakePending_ ? State::Starting : State::Closed);
}

// Output thread, Running: true once a flowing callback has not come for the stall limit. A
// device that has not got going yet may wait for its server much longer than a block (a null
// sink waking from idle took two seconds for its first request), so only a flow that stops
// counts.
bool SdlOutput::stalled(std::chrono::steady_clock::time_point now)
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

void SdlOutput::run()
{
    std::unique_lock lock(mutex_);
    while (!quit_) {
        const auto now = std::chrono::steady_clock::now();
        const State s = state_.load();

        if (wakePending_) {
            if (s == State::Failed && now < nextAttempt_) {
                // Too soon after a failed attempt: the sound waits for the next one.
                changed_.wait_until(lock, nextAttempt_);
                continue;
            }
            wakePending_ = false;
            const bool mayStart = s == State::Starting || s == State::Closed || s == State::Paused ||
                                  (s == State::Failed && now >= nextAttempt_);
            if (mayStart) {
                state_.store(State::Starting);
                idle_.store(false);
                lock.unlock();
                const bool ok = start();
                lock.lock();
                if (ok) {
                    state_.store(State::Running);
                    lastFrames_ = mixer_.framesMixed();
                    lastProgress_ = std::chrono::steady_clock::now();
                    progressSeen_ = 0;
                } else {
                    state_.store(State::Failed);
                    nextAttempt_ = std::chrono::steady_clock::now() + options_.retryAfter;
                }
            }
            continue;
        }
        if (preloadPending_) {
            preloadPending_ = false;
            lock.unlock();
            calledSdl_ = true;
            sdl::loadLibrary();
            lock.lock();
            continue;
        }

        switch (s) {
        case State::Running:
            if (sdl::deviceLost(device_) || stalled(now)) {
                // Closed rather than failed: the next sound opens whatever device is there now.
                // Until then effects run out in real time instead of waiting for a callback.
                loseDevice(lock);
                continue;
            }
            if (idle_.load() && !mixer_.active()) {
                lock.unlock();
                sdl::pauseDevice(device_, true);
                lock.lock();
                idle_.store(false);
                closeAt_ = std::chrono::steady_clock::now() + options_.closeAfter;
                // A wake that came in meanwhile is served at the top of the loop.
                state_.store(wakePending_ ? State::Starting : State::Paused);
                continue;
            }
            changed_.wait_for(lock, kIdlePoll);
            break;
        case State::Paused:
            if (now >= closeAt_) {
                closeDevice(lock);
                continue;
            }
            changed_.wait_until(lock, closeAt_);
            break;
        default:
            // Closed, Failed, or Starting without a wake yet: nothing to do until one comes.
            changed_.wait(lock);
            break;
        }
    }
    lock.unlock();
    if (calledSdl_)
        sdl::releaseThread();
}

} // namespace sound
