#include "SdlBackend.h"

#include "AudioSource.h"
#include "SharedLibrary.h"

#include <SDL.h>
#include <dlfcn.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace sound::sdl {

namespace {

// Every SDL function this file calls. The header gives their types; the library itself is
// opened on first use.
#define OMBURA_SDL_FUNCTIONS(X)                                                                                        \
    X(SDL_SetHint)                                                                                                     \
    X(SDL_RWFromConstMem)                                                                                              \
    X(SDL_LoadWAV_RW)                                                                                                  \
    X(SDL_FreeWAV)                                                                                                     \
    X(SDL_InitSubSystem)                                                                                               \
    X(SDL_QuitSubSystem)                                                                                               \
    X(SDL_OpenAudioDevice)                                                                                             \
    X(SDL_PauseAudioDevice)                                                                                            \
    X(SDL_GetAudioDeviceStatus)                                                                                        \
    X(SDL_CloseAudioDevice)                                                                                            \
    X(SDL_TLSCleanup)

struct Sdl {
#define OMBURA_SDL_SLOT(name) decltype(&::name) name = nullptr;
    OMBURA_SDL_FUNCTIONS(OMBURA_SDL_SLOT)
#undef OMBURA_SDL_SLOT
};

// SDL and the libraries it links (X11, Wayland, sound servers) are not needed for the window,
// so the program does not link them: they are opened by the output's thread, or by the first
// effect decoded if that comes sooner. Null when SDL is missing or lacks a function.
const Sdl* sdl()
{
    static const Sdl* const loaded = []() -> const Sdl* {
        static Sdl table;
        SharedLibrary library("libSDL2-2.0.so.0");
#define OMBURA_SDL_BIND(name) library.bind(table.name, #name);
        OMBURA_SDL_FUNCTIONS(OMBURA_SDL_BIND)
#undef OMBURA_SDL_BIND
        if (!library.complete())
            return nullptr;
        // SDL2's hint table has no lock, so every hint is set here, once, before any thread of
        // ours can read one.
        // Without this SDL takes over SIGINT and SIGTERM, and Ctrl-C stops working on the game.
        table.SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        table.SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Ombura");
        // The image handed to SDL is rebuilt from chunks we have already measured, so a
        // complete-looking file that still falls short is an error, not a shorter sound.
        table.SDL_SetHint(SDL_HINT_WAVE_RIFF_CHUNK_SIZE, "force");
        table.SDL_SetHint(SDL_HINT_WAVE_TRUNCATION, "dropframe");
        // ADPCM writers pad the last block; the fact chunk says where the sound really ends.
        table.SDL_SetHint(SDL_HINT_WAVE_FACT_CHUNK, "ignorezero");
        return &table;
    }();
    return loaded;
}

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

struct Pull {
    PullFunction pull;
    void* user;
};

std::mutex pullsMutex;
std::map<SDL_AudioDeviceID, std::unique_ptr<Pull>> pulls;

void SDLCALL onAudio(void* userdata, Uint8* stream, int len)
{
    const auto* p = static_cast<const Pull*>(userdata);
    const int frames = len / static_cast<int>(sizeof(float) * kOutputChannels);
    p->pull(p->user, reinterpret_cast<float*>(stream), frames);
}

std::optional<SampleEncoding> encodingOf(SDL_AudioFormat format)
{
    switch (format) {
    case AUDIO_U8:
        return SampleEncoding::U8;
    case AUDIO_S16SYS:
        return SampleEncoding::S16;
    case AUDIO_S32SYS:
        return SampleEncoding::S32;
    case AUDIO_F32SYS:
        return SampleEncoding::F32;
    default:
        return std::nullopt;
    }
}

} // namespace

bool loadLibrary()
{
    return sdl() != nullptr;
}

std::optional<RawSamples> decodeWave(std::span<const std::uint8_t> image)
{
    const Sdl* api = sdl();
    if (api == nullptr)
        return std::nullopt;
    if (image.empty() || image.size() > static_cast<std::size_t>(INT32_MAX))
        return std::nullopt;
    SDL_RWops* rw = api->SDL_RWFromConstMem(image.data(), static_cast<int>(image.size()));
    if (rw == nullptr)
        return std::nullopt;

    SDL_AudioSpec got{};
    Uint8* buffer = nullptr;
    Uint32 length = 0;
    if (api->SDL_LoadWAV_RW(rw, 1, &got, &buffer, &length) == nullptr)
        return std::nullopt;
    std::unique_ptr<Uint8, decltype(&SDL_FreeWAV)> owned(buffer, api->SDL_FreeWAV);

    const auto encoding = encodingOf(got.format);
    if (!encoding || got.channels == 0 || got.freq <= 0 || length == 0)
        return std::nullopt;
    const std::size_t frameBytes = SDL_AUDIO_BITSIZE(got.format) / 8u * got.channels;
    if (length % frameBytes != 0)
        return std::nullopt;

    RawSamples raw;
    raw.encoding = *encoding;
    raw.channels = got.channels;
    raw.rate = got.freq;
    raw.bytes.assign(buffer, buffer + length);
    return raw;
}

bool initAudio()
{
    const Sdl* api = sdl();
    if (api == nullptr)
        return false;
    static std::once_flag alsaOnce;
    std::call_once(alsaOnce, quietAlsa);
    return api->SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

// The functions below are only reached after initAudio() succeeded, so SDL is there.

void quitAudio()
{
    sdl()->SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

std::optional<OpenedDevice> openDevice(int framesPerBuffer, PullFunction pull, void* user)
{
    const Sdl* api = sdl();
    if (api == nullptr)
        return std::nullopt;
    auto p = std::make_unique<Pull>(Pull{pull, user});

    SDL_AudioSpec want{};
    want.freq = kOutputRate;
    want.format = AUDIO_F32SYS;
    want.channels = kOutputChannels;
    want.samples = static_cast<Uint16>(framesPerBuffer);
    want.callback = &onAudio;
    want.userdata = p.get();
    SDL_AudioSpec have{};
    // No changes allowed: SDL converts for the hardware if it must, and our callback always
    // sees float stereo at 48000 Hz in blocks of the size asked for.
    const SDL_AudioDeviceID id = api->SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (id == 0)
        return std::nullopt;
    {
        std::lock_guard lock(pullsMutex);
        pulls[id] = std::move(p);
    }
    api->SDL_PauseAudioDevice(id, 0);
    return OpenedDevice{id, have.samples};
}

void pauseDevice(std::uint32_t id, bool paused)
{
    sdl()->SDL_PauseAudioDevice(id, paused ? 1 : 0);
}

bool deviceLost(std::uint32_t id)
{
    return sdl()->SDL_GetAudioDeviceStatus(id) == SDL_AUDIO_STOPPED;
}

void releaseThread()
{
    if (const Sdl* api = sdl())
        api->SDL_TLSCleanup();
}

void closeDevice(std::uint32_t id)
{
    // Closing joins SDL's audio thread, so the callback is done with its Pull afterwards.
    sdl()->SDL_CloseAudioDevice(id);
    std::lock_guard lock(pullsMutex);
    pulls.erase(id);
}

} // namespace sound::sdl
