// SPDX-License-Identifier: GPL-3.0-or-later

#include "SdlOutput.h"

#include "AudioDrivers.h"
#include "AudioSource.h"

#include <SDL.h>

#include <dlfcn.h>
#include <sched.h>

#include <algorithm>
#include <cstdlib>

namespace sound {

namespace {

constexpr std::chrono::milliseconds kIdlePoll{100};
// Polls that saw the callback move before a device counts as flowing.
constexpr int kFlowing = 3;
// How long the end of the program waits for the device to close: SDL plays out two blocks
// first, which takes 21 ms at 512 frames.
constexpr std::chrono::milliseconds kCloseLimit{500};

void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...)
{ }

// On a machine without a sound card SDL's ALSA backend makes libasound print a dozen lines to
// stderr at every attempt. The game keeps no log and says nothing on a terminal, so its error
// handler is replaced by one that ignores them. The library stays loaded for the process.
void quietAlsa()
{
    void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (alsa == nullptr)
        return;
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetHandler = int (*)(Handler);
    if (auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler")))
        set(&ignoreAlsaMessage);
}

// SDL asks for a high nice level for its audio thread, which is not enough on a busy machine:
// with compilers running, the PulseAudio stream still ran dry (docs/PERFORMANCE.md).
// Where the user may use real-time scheduling (RLIMIT_RTPRIO, or root), the thread takes it,
// as the sound servers' own threads do, at a priority below theirs so that it never holds
// them up. Elsewhere SDL's choice stands. Threads the thread starts get ordinary scheduling.
constexpr int kAudioThreadPriority = 3;

void raiseAudioThread()
{
    thread_local bool raised = false;
    if (raised)
        return;
    raised = true;
    sched_param param{};
    param.sched_priority = kAudioThreadPriority;
    sched_setscheduler(0, SCHED_RR | SCHED_RESET_ON_FORK, &param);
}

} // namespace

SdlOutput::SdlOutput(Mixer& mixer, Options options, std::function<bool()> wanted)
    : mixer_(mixer), options_(options), wanted_(std::move(wanted)), thread_([this] { run(); })
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
    if (open_)
        SDL_CloseAudioDevice(device_);
    if (audioInitialised_)
        SDL_AudioQuit();
}

void SdlOutput::setUp()
{
    static std::once_flag once;
    std::call_once(once, [] {
        quietAlsa();
        // SDL2's hint table has no lock, so every hint is set here, once, before any thread of
        // ours can read one.
        // Without this SDL takes over SIGINT and SIGTERM, and Ctrl-C stops working on the game.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        // How the desktop's sound settings show us. PipeWire takes the role from the hint, in
        // its own spelling; SDL's PulseAudio driver has no role, so libpulse is given it the
        // way it reads one from outside, in PulseAudio's spelling. This runs before the first
        // device opens, and a value the user has set wins.
        SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Ombura");
        SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, "Ombura");
        SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_ROLE, "Game");
        setenv("PULSE_PROP_media.role", "game", 0);
        setenv("PULSE_LATENCY_MSEC", kPulseBufferMs, 0);
    });
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
        if (s == State::Closed || s == State::Paused || (s == State::Failed && Clock::now() >= nextAttempt_))
            state_.store(State::Starting);
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

// SDL's audio thread, with the output as its userdata.
void SdlOutput::pull(void* self, std::uint8_t* stream, int bytes)
{
    raiseAudioThread();
    auto* output = static_cast<SdlOutput*>(self);
    auto* out = reinterpret_cast<float*>(stream);
    const int frames = bytes / static_cast<int>(sizeof(float) * kOutputChannels);
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
        SDL_PauseAudioDevice(device_, 0);
    } else {
        ++openAttempts_;
        ok = open_ = openSdl();
        openedBefore_ = openedBefore_ || ok;
    }
    lock.lock();
    if (ok) {
        state_.store(State::Running);
        lastFrames_ = mixer_.framesMixed();
        lastProgress_ = Clock::now();
        progressSeen_ = 0;
    } else {
        state_.store(State::Failed);
        nextAttempt_ = Clock::now() + options_.retryAfter;
    }
}

// Closes the device outside the lock; a wake that came in meanwhile opens it again at once.
// Closing joins SDL's audio thread, which pulls no more afterwards. SDL's server drivers keep
// one connection for all devices, and a dead one opens nothing more: a lost device takes its
// driver with it.
void SdlOutput::closeDevice(std::unique_lock<std::mutex>& lock, Close how)
{
    lock.unlock();
    SDL_CloseAudioDevice(device_);
    device_ = 0;
    if (how == Close::WithDriver)
        quitAudio();
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

    switch (s) {
    case State::Running:
        if (SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED || stalled(now)) {
            // Until a device is back, effects run out in real time instead of waiting for a
            // callback.
            ++losses_;
            closeDevice(lock, Close::WithDriver);
            return std::nullopt;
        }
        if (idle_.load() && !mixer_.active()) {
            lock.unlock();
            SDL_PauseAudioDevice(device_, 1);
            lock.lock();
            idle_.store(false);
            closeAt_ = Clock::now() + options_.closeAfter;
            // A wake that came in meanwhile is served next.
            state_.store(wakePending_ ? State::Starting : State::Paused);
            return std::nullopt;
        }
        return now + kIdlePoll;
    case State::Paused:
        if (now >= closeAt_) {
            closeDevice(lock, Close::KeepDriver);
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
        const auto next = step(lock, Clock::now());
        if (!next || quit_)
            continue;
        if (*next == Clock::time_point::max())
            changed_.wait(lock);
        else
            changed_.wait_until(lock, *next);
    }
    if (closeOnQuit_ && open_) {
        closeDevice(lock, Close::WithDriver);
        state_.store(State::Closed);
    }
    // SDL keeps its last error message for every thread that called it, and only frees that
    // for threads it started itself.
    lock.unlock();
    SDL_TLSCleanup();
    lock.lock();
    threadEnded_ = true;
    lock.unlock();
    ended_.notify_all();
}

bool SdlOutput::openSdl()
{
    setUp();
    // A driver kept up since the last quiet close is tried first: it worked, and starting one
    // costs a round trip to the server.
    if (audioInitialised_) {
        if (openOnCurrentDriver())
            return true;
        quitAudio();
    }
    const char* userDriver = std::getenv("SDL_AUDIODRIVER");
    DriverSituation situation;
    situation.userChoice = userDriver != nullptr && *userDriver != '\0';
    situation.pipewireRunning = !situation.userChoice && pipewireRunning();
    situation.serverSeen = serverSeen_;
    for (const std::string& name : driversToTry(situation)) {
        // SDL_AudioInit rather than SDL_InitSubSystem: it takes the driver by name, without a
        // hint (SDL2's hint table has no lock), and starts no event subsystem we would not use.
        if (SDL_AudioInit(name.empty() ? nullptr : name.c_str()) != 0)
            continue;
        audioInitialised_ = true;
        if (openOnCurrentDriver())
            return true;
        quitAudio();
    }
    return false;
}

// A driver is up.
bool SdlOutput::openOnCurrentDriver()
{
    const char* current = SDL_GetCurrentAudioDriver();
    const std::string name = current != nullptr ? current : "";
    const int frames = options_.framesPerBuffer > 0 ? options_.framesPerBuffer : framesPerBufferFor(name);
    SDL_AudioSpec want{};
    want.freq = kOutputRate;
    want.format = AUDIO_F32SYS;
    want.channels = kOutputChannels;
    want.samples = static_cast<Uint16>(frames);
    want.callback = &SdlOutput::pull;
    want.userdata = this;
    SDL_AudioSpec have{};
    // No changes allowed: SDL converts for the hardware if it must, and our callback always
    // sees float stereo at 48000 Hz in blocks of the size asked for.
    const SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (id == 0)
        return false;
    device_ = id;
    serverSeen_ = serverSeen_ || isServerDriver(name);
    framesPerBuffer_.store(have.samples);
    {
        std::lock_guard lock(mutex_);
        driver_ = name;
    }
    SDL_PauseAudioDevice(id, 0);
    return true;
}

void SdlOutput::quitAudio()
{
    SDL_AudioQuit();
    audioInitialised_ = false;
}

} // namespace sound
