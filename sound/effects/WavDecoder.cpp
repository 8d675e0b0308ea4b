#include "WavDecoder.h"

#include "ReadFile.h"

#include "Resampler.h"
#include "SdlWave.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <variant>

namespace sound {

namespace {

float sampleAt(const sdl::RawSamples& raw, std::size_t index)
{
    const std::uint8_t* p = raw.bytes.data();
    switch (raw.encoding) {
    case sdl::SampleEncoding::U8:
        return (static_cast<float>(p[index]) - 128.0f) / 128.0f;
    case sdl::SampleEncoding::S16: {
        std::int16_t v;
        std::memcpy(&v, p + index * 2, sizeof v);
        return static_cast<float>(v) / 32768.0f;
    }
    case sdl::SampleEncoding::S32: {
        std::int32_t v;
        std::memcpy(&v, p + index * 4, sizeof v);
        return static_cast<float>(static_cast<double>(v) / 2147483648.0);
    }
    case sdl::SampleEncoding::F32: {
        float v;
        std::memcpy(&v, p + index * 4, sizeof v);
        // A float file may hold anything, NaN included; the mixer must never see it.
        if (!std::isfinite(v))
            return 0.0f;
        return std::clamp(v, -1.0f, 1.0f);
    }
    }
    return 0.0f;
}

std::size_t bytesPerSample(sdl::SampleEncoding e)
{
    switch (e) {
    case sdl::SampleEncoding::U8:
        return 1;
    case sdl::SampleEncoding::S16:
        return 2;
    default:
        return 4;
    }
}

// Mono goes to both sides; past two channels the even ones make the left and the odd ones the
// right, which keeps every channel audible without knowing the speaker layout.
std::vector<float> toStereo(const sdl::RawSamples& raw, std::size_t frames)
{
    const auto channels = static_cast<std::size_t>(raw.channels);
    std::vector<float> stereo(frames * 2);
    for (std::size_t f = 0; f < frames; ++f) {
        const std::size_t first = f * channels;
        if (channels == 1) {
            stereo[f * 2] = stereo[f * 2 + 1] = sampleAt(raw, first);
            continue;
        }
        float left = 0.0f;
        float right = 0.0f;
        for (std::size_t c = 0; c < channels; ++c)
            (c % 2 == 0 ? left : right) += sampleAt(raw, first + c);
        const std::size_t leftChannels = (channels + 1) / 2;
        const std::size_t rightChannels = channels / 2;
        stereo[f * 2] = left / static_cast<float>(leftChannels);
        stereo[f * 2 + 1] = right / static_cast<float>(rightChannels);
    }
    return stereo;
}

bool isAdpcm(WavEncoding e)
{
    return e == WavEncoding::MsAdpcm || e == WavEncoding::ImaAdpcm;
}

WavResult failure(WavError error)
{
    return WavResult{std::nullopt, error};
}

FileStamp stampFrom(const struct stat& st)
{
    return FileStamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                     static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                     static_cast<std::uint64_t>(st.st_size)};
}

} // namespace

WavResult decodeWav(std::span<const std::uint8_t> file)
{
    auto parsed = parseWavLayout(file);
    if (auto* error = std::get_if<WavError>(&parsed))
        return failure(*error);
    const auto& layout = std::get<WavLayout>(parsed);

    // Refuse before decoding what would be too long once converted, so a small ADPCM file
    // cannot ask for gigabytes.
    if (resampledFrames(layout.maxFrames, layout.sampleRate) > kMaxWaveformFrames)
        return failure(WavError::TooLong);

    const auto raw = sdl::decodeWave(canonicalWavImage(layout));
    if (!raw || raw->channels != layout.channels || raw->rate != static_cast<int>(layout.sampleRate))
        return failure(WavError::DecodeFailed);
    const std::size_t frames = raw->bytes.size() / (bytesPerSample(raw->encoding) * layout.channels);
    // Plain encodings decode to exactly one frame per frame of data; ADPCM to at most what
    // its blocks can hold. Anything else means the decoder read something we did not check.
    if (frames == 0 || frames > layout.maxFrames || (!isAdpcm(layout.encoding) && frames != layout.maxFrames))
        return failure(WavError::DecodeFailed);

    Waveform sound;
    sound.samples = resampleStereo(toStereo(*raw, frames), layout.sampleRate);
    if (sound.samples.empty())
        return failure(WavError::Empty);
    return WavResult{std::move(sound), WavError::DecodeFailed};
}

WavResult loadWavFile(const std::string& path, FileStamp* stamp)
{
    if (path.empty())
        return failure(WavError::NotFound);
    const ombura::FileContents file = ombura::readRegularFile(path, kMaxWavFileBytes);
    switch (file.error) {
    case ombura::ReadError::NotFound:
        return failure(WavError::NotFound);
    case ombura::ReadError::CannotOpen:
    case ombura::ReadError::Unreadable:
        return failure(WavError::Unreadable);
    case ombura::ReadError::NotAFile:
        return failure(WavError::NotAFile);
    case ombura::ReadError::TooLarge:
    case ombura::ReadError::None:
        break;
    }
    if (stamp != nullptr)
        *stamp = stampFrom(file.info);
    if (file.info.st_size == 0)
        return failure(WavError::Empty);
    if (file.error == ombura::ReadError::TooLarge)
        return failure(WavError::TooLarge);
    return decodeWav(file.bytes);
}

std::optional<FileStamp> stampOf(const std::string& path)
{
    struct stat st { };
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return stampFrom(st);
}

} // namespace sound
