#include "Mixer.h"

#include <algorithm>
#include <cmath>

namespace sound {

Mixer::Mixer(std::vector<AudioSource*> sources) : sources_(std::move(sources))
{
    std::erase(sources_, nullptr);
}

void Mixer::render(float* out, int frames)
{
    if (frames <= 0)
        return;
    blockTime_ = Clock::now();
    blockStart_ = frames_.load(std::memory_order_relaxed);

    const auto samples = static_cast<std::size_t>(frames) * kOutputChannels;
    std::fill(out, out + samples, 0.0f);
    for (AudioSource* source : sources_)
        source->render(out, frames);
    // A hard limit is enough at these levels; its real job is to keep a NaN or a runaway
    // source from ever reaching the device.
    for (std::size_t i = 0; i < samples; ++i) {
        const float v = out[i];
        out[i] = std::isfinite(v) ? std::clamp(v, -1.0f, 1.0f) : 0.0f;
    }

    if (Observer* observer = observer_.load(std::memory_order_acquire))
        observer->mixed(blockStart_, frames, blockTime_);
    frames_.store(blockStart_ + static_cast<std::uint64_t>(frames), std::memory_order_release);
}

bool Mixer::active() const
{
    return std::any_of(sources_.begin(), sources_.end(), [](const AudioSource* s) { return s->active(); });
}

void Mixer::noteEffectStart(int offset)
{
    if (Observer* observer = observer_.load(std::memory_order_acquire)) {
        const auto at = blockTime_ + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(static_cast<double>(offset) / kOutputRate));
        observer->effectStarted(blockStart_ + static_cast<std::uint64_t>(std::max(offset, 0)), at);
    }
    effectStarts_.fetch_add(1, std::memory_order_release);
}

} // namespace sound
