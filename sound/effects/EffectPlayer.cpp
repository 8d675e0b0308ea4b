// SPDX-License-Identifier: GPL-3.0-or-later

#include "EffectPlayer.h"

#include "SoundPlatform.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sound {

namespace {

std::chrono::duration<double> lengthOf(std::size_t frames)
{
    return std::chrono::duration<double>(static_cast<double>(frames) / kOutputRate);
}

// A raised cosine from 0 (x = 0) to 1 (x = 1): its slope is zero at both ends, so the fade
// itself adds no step.
float ramp(double x)
{
    return static_cast<float>(0.5 - 0.5 * std::cos(std::numbers::pi * std::clamp(x, 0.0, 1.0)));
}

} // namespace

const Waveform& EffectPlayer::defaultSound()
{
    // A soft two-partial chime of 180 ms: short enough not to annoy, clearly not silence.
    static const Waveform beep = [] {
        constexpr int frames = kOutputRate * 180 / 1000;
        constexpr double pitch = 1046.5; // C6
        Waveform w;
        for (int i = 0; i < frames; ++i) {
            const double t = static_cast<double>(i) / kOutputRate;
            const double attack = std::min(1.0, t / 0.004);
            const double release = std::min(1.0, static_cast<double>(frames - i) / (kOutputRate * 0.01));
            const double envelope = attack * release * std::exp(-t * 14.0);
            const double tone =
                std::sin(2 * std::numbers::pi * pitch * t) + 0.3 * std::sin(2 * std::numbers::pi * pitch * 2 * t);
            w.samples.insert(w.samples.end(), 2, static_cast<float>(0.45 * envelope * tone));
        }
        return w;
    }();
    return beep;
}

// --- UI thread ---------------------------------------------------------------------------

void EffectPlayer::prepare(std::vector<std::string> paths)
{
    if (preparing_.valid())
        return;
    std::erase_if(paths, [this](const std::string& path) { return path.empty() || sounds_.contains(path); });
    preparing_ = std::async(std::launch::async, [paths = std::move(paths)] {
        Sounds sounds;
        for (const std::string& path : paths)
            if (!sounds.contains(path))
                sounds.emplace(path, loadEffectFile(path));
        return sounds;
    });
}

void EffectPlayer::settle()
{
    if (preparing_.valid())
        sounds_.merge(preparing_.get());
}

const Waveform* EffectPlayer::soundFor(const std::string& path)
{
    if (path.empty())
        return nullptr;
    settle();
    auto known = sounds_.find(path);
    if (known == sounds_.end())
        known = sounds_.emplace(path, loadEffectFile(path)).first;
    return known->second ? &*known->second : nullptr;
}

bool EffectPlayer::soundingLocked() const
{
    const Channel& c = channel_;
    if (c.ended >= c.newest.id)
        return false;
    return c.newest.loop || renderingNow() || now_() - c.startedAt < lengthOf(c.newest.sound->frames());
}

bool EffectPlayer::play(const std::string& path, std::uint32_t flags)
{
    if (hasFlag(flags, SoundFlag::NoStop)) {
        // The common case in a game is a press while the last spin still sounds: refuse it
        // before the file is looked at.
        std::lock_guard lock(mutex_);
        if (soundingLocked())
            return false;
    }
    const Waveform* sound = soundFor(path);
    const bool played = sound != nullptr;
    if (!sound && !hasFlag(flags, SoundFlag::NoDefault))
        sound = &defaultSound();
    const bool sync = !hasFlag(flags, SoundFlag::Async);
    Request request{0, sound, hasFlag(flags, SoundFlag::Loop) && !sync};
    {
        std::lock_guard lock(mutex_);
        Channel& c = channel_;
        request.id = c.newest.id + 1;
        c.newest = request;
        c.pending = true;
        c.startedAt = now_();
        if (!sound)
            c.ended = request.id; // the request only cuts off what sounds
    }
    // A synchronous caller still waiting on the sound just cut off may return now.
    ended_.notify_all();
    if (wake_)
        wake_();
    if (sound && sync)
        waitUntilEnded(request.id);
    return played;
}

void EffectPlayer::waitUntilEnded(std::uint64_t id)
{
    // How long past its length a caller waits for a sound that a live output has not finished:
    // covers a device that is still starting, not one that has hung.
    constexpr std::chrono::seconds kRenderGrace{2};
    std::unique_lock lock(mutex_);
    const auto deadline = channel_.startedAt + lengthOf(channel_.newest.sound->frames()) + kRenderGrace;
    // Wake now and then: the output may come or go while we wait.
    while (channel_.newest.id == id && soundingLocked() && now_() < deadline)
        ended_.wait_for(lock, std::chrono::milliseconds(50));
    // Over, timed out with nothing rendering, or stalled: it must not start late either way.
    if (channel_.newest.id == id)
        channel_.ended = id;
}

bool EffectPlayer::active() const
{
    std::lock_guard lock(mutex_);
    return (channel_.fading && renderingNow()) || soundingLocked();
}

// --- Audio thread --------------------------------------------------------------------------

void EffectPlayer::start(const Request& request)
{
    if (state_ == State::Playing)
        cutOff();
    current_ = Voice{request};
    state_ = request.sound ? State::Playing : State::Silent;
}

void EffectPlayer::cutOff()
{
    // Only what has reached the output needs to fade; a sound not yet mixed simply goes.
    if (current_.played > 0) {
        fading_ = current_;
        fading_.cutLeft = kFadeOutFrames;
    }
    state_ = State::Silent;
}

void EffectPlayer::finish()
{
    state_ = State::Silent;
    {
        std::lock_guard lock(mutex_);
        channel_.ended = std::max(channel_.ended, current_.id);
    }
    ended_.notify_all();
}

// The fade-in at the start (once, not at a loop's seams), the fade-out at the end (none for a
// loop), and the cut's fade-out.
float EffectPlayer::Voice::gain() const
{
    const std::size_t total = sound->frames();
    const std::size_t fadeIn = std::min<std::size_t>(kFadeInFrames, total / 2);
    const std::size_t fadeOut = std::min<std::size_t>(kFadeOutFrames, total / 2);
    const std::size_t left = total - position;
    float gain = 1.0f;
    if (played < fadeIn)
        gain *= ramp(static_cast<double>(played + 1) / static_cast<double>(fadeIn + 1));
    if (!loop && left <= fadeOut)
        gain *= ramp(static_cast<double>(left) / static_cast<double>(fadeOut + 1));
    if (cutLeft >= 0)
        gain *= ramp(static_cast<double>(cutLeft) / (kFadeOutFrames + 1));
    return gain;
}

// Mixes up to `frames` frames into `out`; false once the voice has nothing more to give.
bool EffectPlayer::Voice::mix(float* out, std::size_t frames)
{
    const std::size_t total = sound->frames();
    for (std::size_t i = 0; i < frames && cutLeft != 0; ++i) {
        if (position == total) {
            if (!loop)
                return false;
            position = 0;
        }
        const float g = gain();
        out[i * 2] += g * sound->samples[position * 2];
        out[i * 2 + 1] += g * sound->samples[position * 2 + 1];
        ++position;
        ++played;
        cutLeft -= cutLeft > 0 ? 1 : 0;
    }
    return cutLeft != 0 && (loop || position < total);
}

void EffectPlayer::render(float* out, int frames)
{
    if (frames <= 0)
        return;
    bool fading = false;
    {
        std::lock_guard lock(mutex_);
        Channel& c = channel_;
        if (c.pending) {
            start(c.newest);
            c.pending = false;
        }
        // Given up on by the UI thread while nothing rendered.
        if (state_ == State::Playing && c.ended >= current_.id)
            cutOff();
        c.fading = fading = fading_.sound != nullptr;
    }
    const auto wanted = static_cast<std::size_t>(frames);
    if (fading && !fading_.mix(out, wanted))
        fading_.sound = nullptr;
    if (state_ == State::Playing) {
        if (current_.played == 0 && startObserver_)
            startObserver_(0);
        if (!current_.mix(out, wanted))
            finish();
    }
    if (fading && fading_.sound == nullptr) {
        std::lock_guard lock(mutex_);
        channel_.fading = false;
    }
}

} // namespace sound
