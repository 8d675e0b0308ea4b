// SPDX-License-Identifier: GPL-3.0-or-later

#include "EffectFile.h"

#include "AudioSource.h"
#include "EffectLimits.h"
#include "RateConverter.h"
#include "ReadFile.h"
#include "SoundFileLibrary.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace sound {

namespace {

EffectDecode failure(EffectError error)
{
    return EffectDecode{std::nullopt, error};
}

// A float file may hold anything, NaN included; the mixer must never see it.
float tame(float v)
{
    return std::isfinite(v) ? std::clamp(v, -1.0f, 1.0f) : 0.0f;
}

// Mono goes to both sides; past two channels the even ones make the left and the odd ones the
// right, which keeps every channel audible without knowing the speaker layout.
void appendStereo(std::vector<float>& stereo, const float* frames, std::size_t count, int channels)
{
    const auto c = static_cast<std::size_t>(channels);
    const std::size_t leftCount = (c + 1) / 2;
    const std::size_t rightCount = c / 2;
    const float leftShare = 1.0f / static_cast<float>(leftCount);
    const float rightShare = rightCount > 0 ? 1.0f / static_cast<float>(rightCount) : 0.0f;
    for (std::size_t f = 0; f < count; ++f) {
        const float* frame = frames + f * c;
        if (c == 1) {
            const float v = tame(frame[0]);
            stereo.push_back(v);
            stereo.push_back(v);
            continue;
        }
        float left = 0.0f;
        float right = 0.0f;
        for (std::size_t i = 0; i < c; ++i)
            (i % 2 == 0 ? left : right) += tame(frame[i]);
        stereo.push_back(left * leftShare);
        stereo.push_back(right * rightShare);
    }
}

// Why a file is refused before a sample of it is decoded, if it is.
std::optional<EffectError> refusal(const sndfile::Format& f)
{
    if (f.cutShort)
        return EffectError::Truncated;
    if (f.channels < 1 || f.channels > kMaxChannels || f.rate < static_cast<int>(kMinSampleRate) ||
        f.rate > static_cast<int>(kMaxSampleRate))
        return EffectError::BadFormat;
    // So that a small compressed file cannot ask for gigabytes.
    if (f.frames > 0 && static_cast<std::uint64_t>(f.frames) > static_cast<std::uint64_t>(f.rate) * kMaxEffectSeconds)
        return EffectError::TooLong;
    return std::nullopt;
}

} // namespace

EffectDecode decodeEffect(std::span<const std::uint8_t> image)
{
    if (image.empty())
        return failure(EffectError::Empty);

    std::optional<EffectError> refused;
    std::uint64_t limit = 0;
    const auto accept = [&](const sndfile::Format& f) {
        refused = refusal(f);
        limit = static_cast<std::uint64_t>(f.rate) * kMaxEffectSeconds;
        return !refused;
    };
    std::vector<float> stereo;
    int channels = 0;
    const auto block = [&](const float* frames, std::size_t count) {
        if (stereo.size() / 2 + count > limit) {
            // The header understated the length: a file that goes on past the limit is refused.
            refused = EffectError::TooLong;
            return false;
        }
        appendStereo(stereo, frames, count, channels);
        return true;
    };
    const auto format = sndfile::read(
        image,
        [&](const sndfile::Format& f) {
            channels = f.channels;
            return accept(f);
        },
        block);
    if (refused)
        return failure(*refused);
    if (!format)
        return failure(EffectError::Unsupported);
    if (format->cutShort)
        return failure(EffectError::Truncated);
    if (stereo.empty())
        return failure(EffectError::Empty);

    auto converted = resampleStereo(stereo, static_cast<std::uint32_t>(format->rate));
    if (!converted)
        return failure(EffectError::DecodeFailed);
    if (converted->empty())
        return failure(EffectError::Empty);
    // The filter may ring a little past full scale near a clipped edge.
    for (float& v : *converted)
        v = tame(v);
    return EffectDecode{Waveform{std::move(*converted)}, EffectError::DecodeFailed};
}

EffectDecode loadEffectFile(const std::string& path)
{
    if (path.empty())
        return failure(EffectError::NotFound);
    ombura::FileContents file = ombura::readRegularFile(path, kMaxEffectFileBytes);
    switch (file.error) {
    case ombura::ReadError::None:
        break;
    case ombura::ReadError::NotFound:
        return failure(EffectError::NotFound);
    case ombura::ReadError::NotAFile:
        return failure(EffectError::NotAFile);
    case ombura::ReadError::TooLarge:
        return failure(EffectError::TooLarge);
    case ombura::ReadError::CannotOpen:
    case ombura::ReadError::Unreadable:
        return failure(EffectError::Unreadable);
    }
    if (file.bytes.empty())
        return failure(EffectError::Empty);
    return decodeEffect(file.bytes);
}

} // namespace sound
