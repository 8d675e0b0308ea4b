// SPDX-License-Identifier: GPL-3.0-or-later

#include "RateConverter.h"

#include "AudioSource.h"

#include <soxr.h>

#include <cmath>

namespace sound {

namespace {

// libsoxr at its high quality: flat to near the source's Nyquist frequency, far down past it,
// and exact lengths. The figures are in docs/SOUND.md and docs/PERFORMANCE.md.
std::optional<std::vector<float>> withSoxr(std::span<const float> stereo, std::uint32_t rate, std::size_t frames)
{
    std::vector<float> out(frames * 2);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    std::size_t done = 0;
    const soxr_error_t error = soxr_oneshot(static_cast<double>(rate), kOutputRate, 2, stereo.data(), stereo.size() / 2,
                                            nullptr, out.data(), frames, &done, &io, &quality, nullptr);
    if (error != nullptr)
        return std::nullopt;
    out.resize(done * 2);
    return out;
}

} // namespace

std::size_t resampledFrames(std::size_t frames, std::uint32_t rate)
{
    if (rate == 0)
        return 0;
    return static_cast<std::size_t>(
        std::llround(static_cast<double>(frames) * kOutputRate / static_cast<double>(rate)));
}

std::optional<std::vector<float>> resampleStereo(std::span<const float> stereo, std::uint32_t rate)
{
    if (rate == static_cast<std::uint32_t>(kOutputRate))
        return std::vector<float>(stereo.begin(), stereo.end());
    const std::size_t frames = resampledFrames(stereo.size() / 2, rate);
    if (frames == 0)
        return std::vector<float>{};
    std::optional<std::vector<float>> out = withSoxr(stereo, rate, frames);
    // libsoxr may leave a frame off the end; the last one is repeated rather than let
    // the sound come out shorter than it is.
    if (out && !out->empty() && out->size() < frames * 2) {
        const float left = (*out)[out->size() - 2];
        const float right = (*out)[out->size() - 1];
        while (out->size() < frames * 2) {
            out->push_back(left);
            out->push_back(right);
        }
    }
    return out;
}

} // namespace sound
