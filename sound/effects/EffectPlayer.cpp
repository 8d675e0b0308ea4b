// SPDX-License-Identifier: GPL-3.0-or-later

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

// A raised cosine from 0 (x = 0) to 1 (x = 1): its slope is zero at both ends, so the fade
// itself adds no step.
float ramp(double x)
{
    return static_cast<float>(0.5 - 0.5 * std::cos(std::numbers::pi * std::clamp(x, 0.0, 1.0)));
}

} // namespace

EffectPlayer::EffectPlayer(EffectLoader::Decoder decoder, std::function<Clock::time_point()> now)
    : now_(std::move(now)), loader_(std::move(decoder))
{ }

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

void EffectPlayer::startLocked(std::shared_ptr<const Waveform> sound, Clock::time_point at)
{
    current_ = std::move(sound);
    position_ = 0;
    played_ = 0;
    started_ = false;
    startedAt_ = at;
    sounding_.store(true);
}

void EffectPlayer::cutLocked()
{
    // Only what has reached the output needs to fade; a sound not yet mixed simply goes.
    if (current_ && sounding_.load() && started_ && renderingNow()) {
        tail_ = current_;
        tailPosition_ = position_;
        tailLoops_ = loop_;
        tailLeft_ = kFadeOutFrames;
        tailSounding_.store(true);
    }
    sounding_.store(false);
    pending_ = false;
}

bool EffectPlayer::play(const std::string& path, std::uint32_t flags)
{
    const bool noStop = hasFlag(flags, SoundFlag::NoStop);
    const bool sync = !hasFlag(flags, SoundFlag::Async);
    const bool noDefault = hasFlag(flags, SoundFlag::NoDefault);

    // The common case in a game is a press while the last spin still sounds: refuse it before
    // touching the file system.
    if (noStop && sounding_.load()) {
        std::lock_guard lock(mutex_);
        expireUnrenderedLocked(now_());
        if (sounding_.load())
            return false;
    }

    // A file known to the loader costs a stat(); one it has not seen is decoded on its thread,
    // unless the caller is going to wait for the sound anyway.
    bool known = true;
    std::shared_ptr<const Waveform> sound;
    if (!path.empty()) {
        const EffectLoader::Lookup found = loader_.find(path);
        if (found.known == EffectLoader::Known::No && sync)
            sound = loader_.load(path);
        else if (found.known == EffectLoader::Known::No)
            known = false;
        else
            sound = found.sound;
    }
    const bool found = sound != nullptr;
    if (known && !sound && !noDefault)
        sound = defaultSound();

    // What is cut off or let go of is released when these leave this function, here on the
    // UI thread and never on the audio thread.
    std::shared_ptr<const Waveform> cut;
    std::shared_ptr<const Waveform> oldTail;
    std::uint64_t request = 0;
    const auto startedAt = now_();
    {
        std::lock_guard lock(mutex_);
        expireUnrenderedLocked(startedAt);
        if (noStop && sounding_.load())
            return false;
        oldTail = std::move(tail_);
        tailSounding_.store(false);
        cutLocked();
        cut = std::move(current_);
        request = ++request_;
        loop_ = hasFlag(flags, SoundFlag::Loop) && !sync;
        noDefault_ = noDefault;
        lastPlayed_ = found;
        if (!known) {
            pending_ = true;
            startedAt_ = startedAt;
            sounding_.store(true);
        } else if (sound) {
            startLocked(sound, startedAt);
        }
    }
    // A synchronous caller still waiting on the sound just cut off may return now.
    ended_.notify_all();
    if (!known) {
        loader_.request(path, [this, request](std::shared_ptr<const Waveform> decoded) {
            this->decoded(request, std::move(decoded));
        });
        return true;
    }
    if (!sound)
        return false;
    if (wake_)
        wake_();
    if (sync)
        waitUntilEnded(request, startedAt, sound->frames());
    return found;
}

void EffectPlayer::decoded(std::uint64_t request, std::shared_ptr<const Waveform> sound)
{
    {
        std::lock_guard lock(mutex_);
        // A later request has taken the channel since; this one is over without a sound.
        if (request != request_ || !pending_)
            return;
        pending_ = false;
        lastPlayed_ = sound != nullptr;
        if (!sound && !noDefault_)
            sound = defaultSound();
        if (sound)
            startLocked(sound, now_());
        else
            sounding_.store(false);
    }
    ended_.notify_all();
    if (sound && wake_)
        wake_();
}

void EffectPlayer::waitUntilEnded(std::uint64_t request, Clock::time_point startedAt, std::size_t frames)
{
    std::unique_lock lock(mutex_);
    while (request_ == request && sounding_.load()) {
        const auto now = now_();
        const auto deadline =
            startedAt + lengthOf(frames) +
            (renderingNow() ? std::chrono::duration_cast<Clock::duration>(kRenderGrace) : Clock::duration::zero());
        if (now >= deadline) {
            // Nobody rendered it in time (no device, or a stalled one): the sound is over.
            sounding_.store(false);
            break;
        }
        // Wake now and then: the output may come or go while we wait.
        ended_.wait_for(lock, std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(50)));
    }
}

bool EffectPlayer::settle(std::chrono::milliseconds timeout)
{
    return loader_.waitUntilIdle(timeout);
}

bool EffectPlayer::lastRequestPlayed() const
{
    std::lock_guard lock(mutex_);
    return lastPlayed_;
}

float EffectPlayer::envelope(std::size_t position, std::size_t total) const
{
    float gain = 1.0f;
    const std::size_t fadeIn = std::min<std::size_t>(kFadeInFrames, total / 2);
    if (played_ < fadeIn)
        gain *= ramp(static_cast<double>(played_ + 1) / static_cast<double>(fadeIn + 1));
    const std::size_t fadeOut = std::min<std::size_t>(kFadeOutFrames, total / 2);
    const std::size_t left = total - position;
    if (!loop_ && left <= fadeOut)
        gain *= ramp(static_cast<double>(left) / static_cast<double>(fadeOut + 1));
    return gain;
}

void EffectPlayer::render(float* out, int frames)
{
    if (frames <= 0 || (!sounding_.load(std::memory_order_acquire) && !tailSounding_.load(std::memory_order_acquire)))
        return;
    bool first = false;
    bool ended = false;
    {
        std::lock_guard lock(mutex_);
        const auto wanted = static_cast<std::size_t>(frames);
        if (tailSounding_.load() && tail_) {
            const float* samples = tail_->samples.data();
            const std::size_t total = tail_->frames();
            for (std::size_t i = 0; i < wanted && tailLeft_ > 0; ++i) {
                if (tailPosition_ >= total) {
                    if (!tailLoops_)
                        break;
                    tailPosition_ = 0;
                }
                const float gain = ramp(static_cast<double>(tailLeft_) / (kFadeOutFrames + 1));
                out[i * 2] += gain * samples[tailPosition_ * 2];
                out[i * 2 + 1] += gain * samples[tailPosition_ * 2 + 1];
                ++tailPosition_;
                --tailLeft_;
            }
            if (tailLeft_ <= 0 || (!tailLoops_ && tailPosition_ >= total))
                tailSounding_.store(false);
        }

        if (!sounding_.load() || !current_)
            return;
        const float* samples = current_->samples.data();
        const std::size_t total = current_->frames();
        first = !started_;
        started_ = true;
        std::size_t done = 0;
        while (done < wanted) {
            const std::size_t chunk = std::min(wanted - done, total - position_);
            const float* src = samples + position_ * 2;
            float* dst = out + done * 2;
            for (std::size_t i = 0; i < chunk; ++i) {
                // Away from the two ends the gain is one; the envelope is only worked out there.
                const bool edge = played_ < kFadeInFrames || total - position_ <= kFadeOutFrames;
                const float gain = edge ? envelope(position_, total) : 1.0f;
                dst[i * 2] += gain * src[i * 2];
                dst[i * 2 + 1] += gain * src[i * 2 + 1];
                ++position_;
                ++played_;
            }
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
    if (tailSounding_.load(std::memory_order_acquire) && renderingNow())
        return true;
    if (!sounding_.load(std::memory_order_acquire))
        return false;
    if (renderingNow())
        return true;
    // Nothing renders: the effect is over once its real-time length has passed.
    std::lock_guard lock(mutex_);
    return sounding_.load() && (loop_ || !current_ || now_() - startedAt_ < lengthOf(current_->frames()));
}

} // namespace sound
