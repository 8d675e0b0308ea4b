// SPDX-License-Identifier: GPL-3.0-or-later

#include "RateConverter.h"

#include "AudioSource.h"
#include "SharedLibrary.h"

#include <samplerate.h>
#include <soxr.h>

#include <cmath>

namespace sound {

namespace {

// libsoxr at its high quality: flat to near the source's Nyquist frequency, far down past it,
// and exact lengths. libsamplerate, which comes with SDL wherever the game has sound at all,
// stands in when libsoxr is missing: its medium sinc is less clean at the top, and keeps the
// length too. The figures are in docs/SOUND.md and docs/PERFORMANCE.md.
#define OMBURA_SOXR_FUNCTIONS(X)                                                                                       \
    X(soxr_oneshot)                                                                                                    \
    X(soxr_quality_spec)                                                                                               \
    X(soxr_io_spec)

#define OMBURA_SRC_FUNCTIONS(X) X(src_simple)

OMBURA_SYMBOL_TABLE(Soxr, OMBURA_SOXR_FUNCTIONS)
OMBURA_SYMBOL_TABLE(SampleRate, OMBURA_SRC_FUNCTIONS)

const Soxr* soxr()
{
    return ombura::boundTable<Soxr>("libsoxr.so.0");
}

const SampleRate* samplerate()
{
    return ombura::boundTable<SampleRate>("libsamplerate.so.0");
}

std::optional<std::vector<float>> withSoxr(const Soxr& sx, std::span<const float> stereo, std::uint32_t rate,
                                           std::size_t frames)
{
    std::vector<float> out(frames * 2);
    const soxr_quality_spec_t quality = sx.soxr_quality_spec(SOXR_HQ, 0);
    const soxr_io_spec_t io = sx.soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    std::size_t done = 0;
    const soxr_error_t error =
        sx.soxr_oneshot(static_cast<double>(rate), kOutputRate, 2, stereo.data(), stereo.size() / 2, nullptr,
                        out.data(), frames, &done, &io, &quality, nullptr);
    if (error != nullptr)
        return std::nullopt;
    out.resize(done * 2);
    return out;
}

std::optional<std::vector<float>> withSampleRate(const SampleRate& src, std::span<const float> stereo,
                                                 std::uint32_t rate, std::size_t frames)
{
    std::vector<float> out(frames * 2);
    SRC_DATA data{};
    data.data_in = stereo.data();
    data.input_frames = static_cast<long>(stereo.size() / 2);
    data.data_out = out.data();
    data.output_frames = static_cast<long>(frames);
    data.src_ratio = static_cast<double>(kOutputRate) / rate;
    data.end_of_input = 1;
    if (src.src_simple(&data, SRC_SINC_MEDIUM_QUALITY, 2) != 0)
        return std::nullopt;
    out.resize(static_cast<std::size_t>(data.output_frames_gen) * 2);
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

bool openResampler()
{
    return soxr() != nullptr || samplerate() != nullptr;
}

std::optional<std::vector<float>> resampleStereo(std::span<const float> stereo, std::uint32_t rate)
{
    if (rate == static_cast<std::uint32_t>(kOutputRate))
        return std::vector<float>(stereo.begin(), stereo.end());
    const std::size_t frames = resampledFrames(stereo.size() / 2, rate);
    if (frames == 0)
        return std::vector<float>{};
    std::optional<std::vector<float>> out;
    if (const Soxr* sx = soxr())
        out = withSoxr(*sx, stereo, rate, frames);
    else if (const SampleRate* src = samplerate())
        out = withSampleRate(*src, stereo, rate, frames);
    // Either library may leave a frame off the end; the last one is repeated rather than let
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
