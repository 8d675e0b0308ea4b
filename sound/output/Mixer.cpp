// SPDX-License-Identifier: GPL-3.0-or-later

#include "Mixer.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sound {

namespace {

// Sources render into a buffer of their own, so each can be given its gain; a longer block is
// mixed in pieces of this size.
constexpr int kChunkFrames = 1024;

// A raised cosine from 1 down to 0 as `left` runs down the fade, as at the cuts of the music:
// no slope at either end, so the fade adds no step of its own, and its last sample is some
// 95 dB under what sounded.
float endFadeGain(int left)
{
    const double x = static_cast<double>(left) / (Mixer::kEndFadeFrames + 1);
    return static_cast<float>(0.5 - 0.5 * std::cos(std::numbers::pi * x));
}

} // namespace

Mixer::Mixer(std::vector<Input> inputs)
    : inputs_(std::move(inputs)), scratch_(static_cast<std::size_t>(kChunkFrames) * kOutputChannels)
{
    std::erase_if(inputs_, [](const Input& in) { return in.source == nullptr; });
}

void Mixer::render(float* out, int frames)
{
    if (frames <= 0)
        return;
    blockTime_ = Clock::now();
    blockStart_ = frames_.load(std::memory_order_relaxed);

    if (silentFrom_.load(std::memory_order_relaxed) != kNotSilent) {
        std::fill(out, out + static_cast<std::ptrdiff_t>(frames) * kOutputChannels, 0.0f);
    } else {
        for (chunkStart_ = 0; chunkStart_ < frames; chunkStart_ += kChunkFrames)
            renderChunk(out + static_cast<std::ptrdiff_t>(chunkStart_) * kOutputChannels,
                        std::min(kChunkFrames, frames - chunkStart_));
        chunkStart_ = 0;
        if (endFade_.load(std::memory_order_acquire) != 0)
            applyEndFade(out, frames);
    }

    if (Observer* observer = observer_.load(std::memory_order_acquire))
        observer->mixed(blockStart_, frames, blockTime_);
    frames_.store(blockStart_ + static_cast<std::uint64_t>(frames), std::memory_order_release);
}

void Mixer::renderChunk(float* out, int frames)
{
    const auto samples = static_cast<std::size_t>(frames) * kOutputChannels;
    std::fill(out, out + samples, 0.0f);
    for (const Input& in : inputs_) {
        std::fill(scratch_.begin(), scratch_.begin() + static_cast<std::ptrdiff_t>(samples), 0.0f);
        in.source->render(scratch_.data(), frames);
        for (std::size_t i = 0; i < samples; ++i)
            out[i] += in.gain * scratch_[i];
    }
    // Never a hard clip: past the knee the limiter bends, and a NaN or a runaway source never
    // reaches the device.
    for (std::size_t i = 0; i < samples; ++i)
        out[i] = softLimit(out[i]);
}

void Mixer::applyEndFade(float* out, int frames)
{
    if (endFade_.load(std::memory_order_relaxed) == 1 + static_cast<int>(Fade::Now))
        endFadeLeft_ = 0;
    int i = 0;
    for (; i < frames && endFadeLeft_ > 0; ++i) {
        const float gain = endFadeGain(endFadeLeft_--);
        out[2 * i] *= gain;
        out[2 * i + 1] *= gain;
    }
    if (endFadeLeft_ > 0)
        return;
    std::fill(out + static_cast<std::ptrdiff_t>(i) * kOutputChannels,
              out + static_cast<std::ptrdiff_t>(frames) * kOutputChannels, 0.0f);
    silentFrom_.store(blockStart_ + static_cast<std::uint64_t>(i), std::memory_order_release);
}

void Mixer::fadeOut(Fade how)
{
    int none = 0;
    endFade_.compare_exchange_strong(none, 1 + static_cast<int>(how), std::memory_order_acq_rel);
}

std::optional<std::uint64_t> Mixer::silentFrom() const
{
    const std::uint64_t from = silentFrom_.load(std::memory_order_acquire);
    if (from == kNotSilent)
        return std::nullopt;
    return from;
}

bool Mixer::active() const
{
    return std::any_of(inputs_.begin(), inputs_.end(), [](const Input& in) { return in.source->active(); });
}

void Mixer::noteEffectStart(int offset)
{
    offset = chunkStart_ + std::max(offset, 0);
    if (Observer* observer = observer_.load(std::memory_order_acquire)) {
        const auto at = blockTime_ + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(static_cast<double>(offset) / kOutputRate));
        observer->effectStarted(blockStart_ + static_cast<std::uint64_t>(offset), at);
    }
    effectStarts_.fetch_add(1, std::memory_order_release);
}

} // namespace sound
