// SPDX-License-Identifier: GPL-3.0-or-later

#include "EffectPlayer.h"

#include "EffectFile.h"
#include "SoundPlatform.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sound {

namespace {

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

EffectPlayer::EffectPlayer(std::function<Clock::time_point()> now) : now_(std::move(now))
{ }

EffectPlayer::~EffectPlayer()
{
    settle();
}

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

// --- UI thread ---------------------------------------------------------------------------

namespace {

std::shared_ptr<const Waveform> decode(const std::string& path)
{
    EffectDecode result = loadEffectFile(path);
    return result.sound ? std::make_shared<const Waveform>(std::move(*result.sound)) : nullptr;
}

} // namespace

void EffectPlayer::prepare(std::vector<std::string> paths)
{
    if (preparing_.joinable())
        return;
    preparing_ = std::thread([this, paths = std::move(paths)] {
        for (const std::string& path : paths)
            if (!path.empty() && prepared_.count(path) == 0)
                prepared_[path] = decode(path);
    });
}

void EffectPlayer::settle()
{
    if (!preparing_.joinable())
        return;
    preparing_.join();
    sounds_.merge(prepared_);
}

std::shared_ptr<const Waveform> EffectPlayer::soundFor(const std::string& path)
{
    if (path.empty())
        return nullptr;
    settle();
    auto known = sounds_.find(path);
    if (known == sounds_.end())
        known = sounds_.emplace(path, decode(path)).first;
    return known->second;
}

bool EffectPlayer::soundingLocked(Clock::time_point now)
{
    Channel& c = channel_;
    if (c.ended >= c.posted)
        return false;
    if (c.loop || renderingNow() || now - c.startedAt < lengthOf(c.frames))
        return true;
    // Nothing renders, and the sound's real-time length has passed: it is over, and must not
    // start late if an output comes.
    c.ended = c.posted;
    c.request.reset();
    return false;
}

bool EffectPlayer::play(const std::string& path, std::uint32_t flags)
{
    const bool noStop = hasFlag(flags, SoundFlag::NoStop);
    const bool sync = !hasFlag(flags, SoundFlag::Async);
    if (noStop) {
        // The common case in a game is a press while the last spin still sounds: refuse it
        // before the file is looked at.
        std::lock_guard lock(mutex_);
        if (soundingLocked(now_()))
            return false;
    }
    std::shared_ptr<const Waveform> sound = soundFor(path);
    lastPlayed_ = sound != nullptr;
    if (!sound && !hasFlag(flags, SoundFlag::NoDefault))
        sound = defaultSound();

    std::uint64_t id = 0;
    {
        std::lock_guard lock(mutex_);
        Channel& c = channel_;
        id = ++c.posted;
        c.request = Request{id, sound.get(), hasFlag(flags, SoundFlag::Loop) && !sync};
        c.startedAt = now_();
        c.frames = sound ? sound->frames() : 0;
        c.loop = c.request->loop;
        if (!sound)
            c.ended = id; // the request only cuts off what sounds
    }
    // A synchronous caller still waiting on the sound just cut off may return now.
    ended_.notify_all();
    if (wake_)
        wake_();
    if (sound && sync)
        waitUntilEnded(id);
    return lastPlayed_;
}

void EffectPlayer::waitUntilEnded(std::uint64_t id)
{
    // How long past its length a caller waits for a sound that a live output has not finished:
    // covers a device that is still starting, not one that has hung.
    constexpr std::chrono::seconds kRenderGrace{2};
    std::unique_lock lock(mutex_);
    while (channel_.posted == id && soundingLocked(now_())) {
        const auto deadline = channel_.startedAt + lengthOf(channel_.frames) + kRenderGrace;
        if (now_() >= deadline) {
            channel_.ended = id; // a stalled output: the sound is over
            channel_.request.reset();
            break;
        }
        // Wake now and then: the output may come or go while we wait.
        ended_.wait_for(lock, std::chrono::milliseconds(50));
    }
}

bool EffectPlayer::active() const
{
    std::lock_guard lock(mutex_);
    const Channel& c = channel_;
    const bool rendering = renderingNow();
    if (c.fading && rendering)
        return true;
    if (c.ended >= c.posted)
        return false;
    return c.loop || rendering || now_() - c.startedAt < lengthOf(c.frames);
}

// --- Audio thread --------------------------------------------------------------------------

void EffectPlayer::start(const Request& request)
{
    if (state_ == State::Playing)
        cutOff();
    current_ = Voice{request.id, request.sound, request.loop};
    state_ = request.sound ? State::Playing : State::Silent;
}

void EffectPlayer::cutOff()
{
    // Only what has reached the output needs to fade; a sound not yet mixed simply goes.
    if (current_.played > 0) {
        fading_ = current_;
        fading_.fadeLeft = kFadeOutFrames;
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

float EffectPlayer::envelope() const
{
    const Voice& v = current_;
    const std::size_t total = v.sound->frames();
    float gain = 1.0f;
    const std::size_t fadeIn = std::min<std::size_t>(kFadeInFrames, total / 2);
    if (v.played < fadeIn)
        gain *= ramp(static_cast<double>(v.played + 1) / static_cast<double>(fadeIn + 1));
    const std::size_t fadeOut = std::min<std::size_t>(kFadeOutFrames, total / 2);
    const std::size_t left = total - v.position;
    if (!v.loop && left <= fadeOut)
        gain *= ramp(static_cast<double>(left) / static_cast<double>(fadeOut + 1));
    return gain;
}

void EffectPlayer::mixFading(float* out, std::size_t frames)
{
    Voice& v = fading_;
    const std::size_t total = v.sound ? v.sound->frames() : 0;
    for (std::size_t i = 0; i < frames && v.fadeLeft > 0; ++i) {
        if (v.position >= total) {
            if (!v.loop) {
                v.fadeLeft = 0;
                break;
            }
            v.position = 0;
        }
        const float gain = ramp(static_cast<double>(v.fadeLeft) / (kFadeOutFrames + 1));
        out[i * 2] += gain * v.sound->samples[v.position * 2];
        out[i * 2 + 1] += gain * v.sound->samples[v.position * 2 + 1];
        ++v.position;
        --v.fadeLeft;
    }
}

void EffectPlayer::mixCurrent(float* out, std::size_t frames)
{
    Voice& v = current_;
    const float* samples = v.sound->samples.data();
    const std::size_t total = v.sound->frames();
    if (v.played == 0 && startObserver_)
        startObserver_(0);
    for (std::size_t i = 0; i < frames; ++i) {
        if (v.position >= total) {
            if (!v.loop) {
                finish();
                return;
            }
            v.position = 0;
        }
        // Away from the two ends the gain is one; the envelope is only worked out there.
        const bool edge = v.played < kFadeInFrames || total - v.position <= kFadeOutFrames;
        const float gain = edge ? envelope() : 1.0f;
        out[i * 2] += gain * samples[v.position * 2];
        out[i * 2 + 1] += gain * samples[v.position * 2 + 1];
        ++v.position;
        ++v.played;
    }
    if (!v.loop && v.position >= total)
        finish();
}

void EffectPlayer::render(float* out, int frames)
{
    if (frames <= 0)
        return;
    {
        std::lock_guard lock(mutex_);
        if (channel_.request) {
            start(*channel_.request);
            channel_.request.reset();
        }
        // Given up on by the UI thread while nothing rendered.
        if (state_ == State::Playing && channel_.ended >= current_.id)
            cutOff();
        channel_.fading = fading_.fadeLeft > 0;
    }
    const auto wanted = static_cast<std::size_t>(frames);
    if (fading_.fadeLeft > 0)
        mixFading(out, wanted);
    if (state_ == State::Playing)
        mixCurrent(out, wanted);
    if (fading_.fadeLeft <= 0 && channel_.fading) {
        std::lock_guard lock(mutex_);
        channel_.fading = false;
    }
}

} // namespace sound
