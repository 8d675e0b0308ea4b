#include "SdlWave.h"

#include "SdlLibrary.h"

#include <memory>

namespace sound::sdl {

namespace {

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

} // namespace sound::sdl
