#include "EffectPlayer.h"

#include "SoundPlatform.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sound {

namespace {

// How long past its length a synchronous caller waits for a sound that a live output has not
// finished: covers a device that is still starting, not one that has hung.
constexpr std::chrono::seconds kRenderGrace{2};

std::chrono::steady_clock::duration lengthOf(std::size_t frames)
{
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(static_cast<double>(frames) / kOutputRate));
}

} // namespace

EffectPlayer::EffectPlayer() = default;
EffectPlayer::~EffectPlayer() = default;

std::shared_ptr<const Waveform> EffectPlayer::defaultSound()
{
    // A soft two-partial chime of 180 ms: short enough not to annoy, clearly not silence.
    static const std::shared_ptr<const Waveform> beep = [] {
        constexpr int frames = kOutputRate * 180 / 1000;
        constexpr double pitch = 1046.5; // C6
        Waveform w;
        w.samples.resize(static_cast<std::size_t>(frames) * 2);
        for (int i = 0; i < frames; ++i) {
            const double t = static_cast<double>(i) / kOutputRate;
            const double attack = std::min(1.0, t / 0.004);
            const double release = std::min(1.0, static_cast<double>(frames - i) / (kOutputRate * 0.01));
            const double envelope = attack * release * std::exp(-t * 14.0);
            const double tone =
                std::sin(2 * std::numbers::pi * pitch * t) + 0.3 * std::sin(2 * std::numbers::pi * pitch * 2 * t);
            const auto v = static_cast<float>(0.45 * envelope * tone);
            w.samples[static_cast<std::size_t>(i) * 2] = v;
            w.samples[static_cast<std::size_t>(i) * 2 + 1] = v;
        }
        return std::make_shared<const Waveform>(std::move(w));
    }();
    return beep;
}

void EffectPlayer::setRenderingProbe(std::function<bool()> probe)
{
    probe_ = std::move(probe);
}

void EffectPlayer::setWakeCallback(std::function<void()> wake)
{
    wake_ = std::move(wake);
}

void EffectPlayer::setStartObserver(std::function<void(int)> observer)
{
    startObserver_ = std::move(observer);
}

bool EffectPlayer::renderingNow() const
{
    return !probe_ || probe_();
}

void EffectPlayer::expireUnrenderedLocked(Clock::time_point now)
{
    if (!sounding_.load() || loop_ || !current_ || renderingNow())
        return;
    if (now - startedAt_ >= lengthOf(current_->frames()))
        sounding_.store(false);
}

bool EffectPlayer::play(const std::string& path, std::uint32_t flags)
{
    const bool noStop = hasFlag(flags, SoundFlag::NoStop);
    const bool sync = !hasFlag(flags, SoundFlag::Async);

    // The common case in a game is a press while the last spin still sounds: refuse it before
    // touching the file system.
    if (noStop && sounding_.load()) {
        std::lock_guard lock(mutex_);
        expireUnrenderedLocked(Clock::now());
        if (sounding_.load())
            return false;
    }

    // Decoding happens here, on the requesting thread, and only the first time for a file.
    std::shared_ptr<const Waveform> sound = path.empty() ? nullptr : cache_.load(path);
    const bool found = sound != nullptr;
    if (!sound && !hasFlag(flags, SoundFlag::NoDefault))
        sound = defaultSound();

    std::shared_ptr<const Waveform> cut;
    std::uint64_t request = 0;
    const auto startedAt = Clock::now();
    {
        std::lock_guard lock(mutex_);
        expireUnrenderedLocked(startedAt);
        if (noStop && sounding_.load())
            return false;
        // Whatever sounded is cut off now, even if nothing replaces it. Its memory goes when
        // `cut` leaves this function, here on the UI thread and never on the audio thread.
        cut = std::move(current_);
        sounding_.store(false);
        request = ++request_;
        if (sound) {
            current_ = sound;
            position_ = 0;
            loop_ = hasFlag(flags, SoundFlag::Loop) && !sync;
            started_ = false;
            startedAt_ = startedAt;
            sounding_.store(true);
        }
    }
    // A synchronous caller still waiting on the sound just cut off may return now.
    ended_.notify_all();
    if (!sound)
        return false;
    if (wake_)
        wake_();
    if (sync)
        waitUntilEnded(request, startedAt, sound->frames());
    return found;
}

void EffectPlayer::waitUntilEnded(std::uint64_t request, Clock::time_point startedAt, std::size_t frames)
{
    std::unique_lock lock(mutex_);
    while (request_ == request && sounding_.load()) {
        const auto now = Clock::now();
        const auto deadline =
            startedAt + lengthOf(frames) +
            (renderingNow() ? std::chrono::duration_cast<Clock::duration>(kRenderGrace) : Clock::duration::zero());
        if (now >= deadline) {
            // Nobody rendered it in time (no device, or a stalled one): the sound is over.
            sounding_.store(false);
            break;
        }
        // Wake now and then: the output may come or go while we wait.
        ended_.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(50)));
    }
}

void EffectPlayer::render(float* out, int frames)
{
    if (frames <= 0 || !sounding_.load(std::memory_order_acquire))
        return;
    bool first = false;
    bool ended = false;
    {
        std::lock_guard lock(mutex_);
        if (!sounding_.load() || !current_)
            return;
        const float* samples = current_->samples.data();
        const std::size_t total = current_->frames();
        first = !started_;
        started_ = true;
        std::size_t done = 0;
        const auto wanted = static_cast<std::size_t>(frames);
        while (done < wanted) {
            const std::size_t chunk = std::min(wanted - done, total - position_);
            const float* src = samples + position_ * 2;
            float* dst = out + done * 2;
            for (std::size_t i = 0; i < chunk * 2; ++i)
                dst[i] += kGain * src[i];
            position_ += chunk;
            done += chunk;
            if (position_ >= total) {
                if (loop_ && total > 0) {
                    position_ = 0;
                } else {
                    sounding_.store(false);
                    ended = true;
                    break;
                }
            }
        }
    }
    if (first && startObserver_)
        startObserver_(0);
    if (ended)
        ended_.notify_all();
}

bool EffectPlayer::active() const
{
    if (!sounding_.load(std::memory_order_acquire))
        return false;
    if (renderingNow())
        return true;
    // Nothing renders: the effect is over once its real-time length has passed.
    std::lock_guard lock(mutex_);
    return sounding_.load() && (loop_ || !current_ || Clock::now() - startedAt_ < lengthOf(current_->frames()));
}

} // namespace sound
