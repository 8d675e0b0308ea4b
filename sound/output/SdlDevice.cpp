// SPDX-License-Identifier: GPL-3.0-or-later

#include "SdlDevice.h"

#include "AudioDrivers.h"
#include "AudioSource.h"

#include <SDL.h>

#include <dlfcn.h>
#include <sched.h>

#include <cstdlib>
#include <mutex>

namespace sound {

namespace {

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

void SDLCALL onAudio(void* userdata, Uint8* stream, int len)
{
    raiseAudioThread();
    const auto* callback = static_cast<const SdlDevice::Callback*>(userdata);
    const int frames = len / static_cast<int>(sizeof(float) * kOutputChannels);
    callback->pull(callback->user, reinterpret_cast<float*>(stream), frames);
}

} // namespace

void SdlDevice::setUp()
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

SdlDevice::~SdlDevice()
{
    if (device_ != 0)
        SDL_CloseAudioDevice(device_);
    if (audioInitialised_)
        SDL_AudioQuit();
}

void SdlDevice::preload()
{
    calledSdl_ = true;
    setUp();
}

std::optional<OutputDevice::Opened> SdlDevice::open(Pull pull, void* user)
{
    calledSdl_ = true;
    setUp();
    // A driver kept up since the last quiet close is tried first: it worked, and starting one
    // costs a round trip to the server.
    if (audioInitialised_) {
        if (auto opened = openOnCurrentDriver(pull, user))
            return opened;
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
        if (auto opened = openOnCurrentDriver(pull, user))
            return opened;
        quitAudio();
    }
    return std::nullopt;
}

// A driver is up.
std::optional<OutputDevice::Opened> SdlDevice::openOnCurrentDriver(Pull pull, void* user)
{
    const char* current = SDL_GetCurrentAudioDriver();
    const std::string name = current != nullptr ? current : "";
    const int frames = framesPerBuffer_ > 0 ? framesPerBuffer_ : framesPerBufferFor(name);
    callback_ = {pull, user}; // no device is open: nobody reads it now

    SDL_AudioSpec want{};
    want.freq = kOutputRate;
    want.format = AUDIO_F32SYS;
    want.channels = kOutputChannels;
    want.samples = static_cast<Uint16>(frames);
    want.callback = &onAudio;
    want.userdata = &callback_;
    SDL_AudioSpec have{};
    // No changes allowed: SDL converts for the hardware if it must, and our callback always
    // sees float stereo at 48000 Hz in blocks of the size asked for.
    const SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (id == 0)
        return std::nullopt;
    SDL_PauseAudioDevice(id, 0);
    device_ = id;
    serverSeen_ = serverSeen_ || isServerDriver(name);
    return Opened{have.samples, name};
}

void SdlDevice::quitAudio()
{
    SDL_AudioQuit();
    audioInitialised_ = false;
}

void SdlDevice::pause(bool paused)
{
    SDL_PauseAudioDevice(device_, paused ? 1 : 0);
}

bool SdlDevice::lost()
{
    return SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED;
}

// Closing joins SDL's audio thread, so the callback is done with callback_ afterwards. SDL's
// server drivers keep one connection for all devices, and a dead one opens nothing more: a
// lost device takes its driver with it.
void SdlDevice::close(Close how)
{
    SDL_CloseAudioDevice(device_);
    device_ = 0;
    if (how == Close::WithDriver)
        quitAudio();
}

// SDL keeps its last error message for every thread that called it, and only frees that for
// threads it started itself.
void SdlDevice::threadEnding()
{
    if (calledSdl_)
        SDL_TLSCleanup();
}

} // namespace sound
