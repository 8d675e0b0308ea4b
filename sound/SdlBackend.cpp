#include "SdlBackend.h"

#include "AudioSource.h"

#include <SDL.h>
#include <dlfcn.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace sound::sdl {

namespace {

// SDL2's hint table has no lock, so every hint is set exactly once, before any thread of ours
// can read one.
void applyHints()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Without this SDL takes over SIGINT and SIGTERM, and Ctrl-C stops working on the game.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Ombura");
        // The image handed to SDL is rebuilt from chunks we have already measured, so a
        // complete-looking file that still falls short is an error, not a shorter sound.
        SDL_SetHint(SDL_HINT_WAVE_RIFF_CHUNK_SIZE, "force");
        SDL_SetHint(SDL_HINT_WAVE_TRUNCATION, "dropframe");
        // ADPCM writers pad the last block; the fact chunk says where the sound really ends.
        SDL_SetHint(SDL_HINT_WAVE_FACT_CHUNK, "ignorezero");
    });
}

void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

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

std::optional<RawSamples> decodeWave(std::span<const std::uint8_t> image)
{
    applyHints();
    if (image.empty() || image.size() > static_cast<std::size_t>(INT32_MAX))
        return std::nullopt;
    SDL_RWops* rw = SDL_RWFromConstMem(image.data(), static_cast<int>(image.size()));
    if (rw == nullptr)
        return std::nullopt;

    SDL_AudioSpec got{};
    Uint8* buffer = nullptr;
    Uint32 length = 0;
    if (SDL_LoadWAV_RW(rw, 1, &got, &buffer, &length) == nullptr)
        return std::nullopt;
    std::unique_ptr<Uint8, decltype(&SDL_FreeWAV)> owned(buffer, &SDL_FreeWAV);

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
    applyHints();
    static std::once_flag alsaOnce;
    std::call_once(alsaOnce, quietAlsa);
    return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

void quitAudio()
{
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

std::optional<OpenedDevice> openDevice(int framesPerBuffer, PullFunction pull, void* user)
{
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
    const SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (id == 0)
        return std::nullopt;
    {
        std::lock_guard lock(pullsMutex);
        pulls[id] = std::move(p);
    }
    SDL_PauseAudioDevice(id, 0);
    return OpenedDevice{id, have.samples};
}

void pauseDevice(std::uint32_t id, bool paused)
{
    SDL_PauseAudioDevice(id, paused ? 1 : 0);
}

bool deviceLost(std::uint32_t id)
{
    return SDL_GetAudioDeviceStatus(id) == SDL_AUDIO_STOPPED;
}

void closeDevice(std::uint32_t id)
{
    // Closing joins SDL's audio thread, so the callback is done with its Pull afterwards.
    SDL_CloseAudioDevice(id);
    std::lock_guard lock(pullsMutex);
    pulls.erase(id);
}

} // namespace sound::sdl
