#include "Sequencer.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace sound {

namespace {

// A raised cosine from 1 down to 0 over the fade: its slope is zero at both ends, so the fade
// adds no step of its own, and the last sample before the silence is all but silent already.
float fadeGain(int left)
{
    const double x = static_cast<double>(left) / (Sequencer::kCutFadeFrames + 1);
    return static_cast<float>(0.5 - 0.5 * std::cos(std::numbers::pi * x));
}

} // namespace

Sequencer::Sequencer(SynthHost& host) : host_(host), fadeScratch_(static_cast<std::size_t>(kCutFadeFrames) * 2)
{ }

void Sequencer::setPlaying(bool on)
{
    box_.playing = on;
    playing_.store(on, std::memory_order_release);
}

void Sequencer::load(std::shared_ptr<const MidiSequence> sequence)
{
    std::vector<MidiPreset> presets = sequence ? sequence->presets : std::vector<MidiPreset>();
    const bool tune = sequence != nullptr;
    std::uint64_t serial = 0;
    {
        std::shared_ptr<const MidiSequence> old;
        std::lock_guard lock(mutex_);
        old = std::move(box_.retired);
        box_.sequence = std::move(sequence);
        serial = ++box_.serial;
        ++box_.command;
        if (playing_.load() || sounding_.load())
            cutting_.store(true, std::memory_order_release);
        setPlaying(false);
        box_.silence = true;
    }
    // render() holds the tune back until the host has read its instruments under this serial.
    if (tune)
        host_.prepare(std::move(presets), serial, &cutting_);
}

void Sequencer::unload()
{
    load(nullptr);
}

bool Sequencer::play()
{
    std::shared_ptr<const MidiSequence> old;
    std::lock_guard lock(mutex_);
    old = std::move(box_.retired);
    ++box_.command;
    setPlaying(box_.sequence != nullptr);
    return box_.sequence != nullptr;
}

void Sequencer::stop()
{
    std::shared_ptr<const MidiSequence> old;
    std::lock_guard lock(mutex_);
    old = std::move(box_.retired);
    ++box_.command;
    if (playing_.load() || sounding_.load())
        cutting_.store(true, std::memory_order_release);
    setPlaying(false);
    box_.silence = true;
}

void Sequencer::render(float* out, int frames)
{
    if (frames <= 0)
        return;

    bool playing = false;
    std::uint64_t command = 0;
    {
        std::lock_guard lock(mutex_);
        if (box_.serial != currentSerial_) {
            box_.retired = std::move(current_);
            current_ = box_.sequence;
            currentSerial_ = box_.serial;
            next_ = 0;
            position_ = 0;
            pendingReset_ = true;
        }
        if (box_.silence) {
            pendingSilence_ = true;
            box_.silence = false;
        }
        playing = box_.playing;
        command = box_.command;
    }

    const SynthHost::State state = host_.state();
    // While the font loads the tune waits: it starts from its beginning once there is sound.
    if (state == SynthHost::State::Loading)
        return;

    SynthEngine* synth = state == SynthHost::State::Ready ? host_.engine() : nullptr;
    std::unique_lock<std::mutex> synthLock;
    if (synth) {
        synthLock = std::unique_lock(synth->mutex(), std::try_to_lock);
        // The loader is reading instruments for a new tune; nothing plays meanwhile.
        if (!synthLock.owns_lock())
            return;
    }
    int done = 0;
    if (synth && (pendingReset_ || pendingSilence_)) {
        // What sounds fades out first; the tune waits for the fade, which is over long before
        // anyone could hear the wait.
        if (fadeLeft_ == 0 && synth->sounding())
            fadeLeft_ = kCutFadeFrames;
        if (fadeLeft_ > 0)
            done = fadeOut(*synth, out, frames);
        if (fadeLeft_ > 0)
            return;
        if (pendingReset_) {
            // A reset only releases the notes, and they ring on for a second or more; a tune
            // closed or replaced falls silent at once, as a stopped one does. The silencing
            // comes after the reset, whose releases would otherwise win.
            synth->reset();
            if (synth->sounding())
                synth->soundOff();
        } else {
            synth->soundOff();
        }
    }
    if (pendingReset_ || pendingSilence_) {
        pendingReset_ = false;
        pendingSilence_ = false;
        // Done, unless another cut came in since this block began.
        std::lock_guard lock(mutex_);
        if (!box_.silence && box_.serial == currentSerial_)
            cutting_.store(false, std::memory_order_release);
    }

    const bool prepared = !synth || host_.preparedSerial() >= currentSerial_;
    if (playing && current_ && prepared && done < frames)
        advance(synth, out, frames, done, command);

    if (synth) {
        if (done < frames && synth->sounding())
            synth->renderAdd(out + 2 * static_cast<std::ptrdiff_t>(done), frames - done);
        sounding_.store(synth->sounding(), std::memory_order_release);
    }
}

int Sequencer::fadeOut(SynthEngine& synth, float* out, int frames)
{
    const int n = std::min(frames, fadeLeft_);
    const auto samples = static_cast<std::size_t>(n) * 2;
    std::fill(fadeScratch_.begin(), fadeScratch_.begin() + static_cast<std::ptrdiff_t>(samples), 0.0f);
    synth.renderAdd(fadeScratch_.data(), n);
    for (int i = 0; i < n; ++i) {
        const float gain = fadeGain(fadeLeft_ - i);
        out[i * 2] += gain * fadeScratch_[static_cast<std::size_t>(i) * 2];
        out[i * 2 + 1] += gain * fadeScratch_[static_cast<std::size_t>(i) * 2 + 1];
    }
    fadeLeft_ -= n;
    return n;
}

void Sequencer::advance(SynthEngine* synth, float* out, int frames, int& done, std::uint64_t command)
{
    const MidiSequence& tune = *current_;
    const std::vector<MidiEvent>& events = tune.events;
    bool ended = false;
    for (;;) {
        for (; next_ < events.size() && events[next_].sample <= position_; ++next_) {
            if (!synth)
                continue;
            const MidiEvent& e = events[next_];
            if (e.status == 0xF0) {
                const MidiSysex& s = tune.sysex[e.sysex];
                synth->sysex(tune.sysexBytes.data() + s.offset, s.size);
            } else {
                synth->channelMessage(e.status, e.data1, e.data2);
            }
        }
        if (position_ >= tune.endSample) {
            ended = true;
            break;
        }
        if (done >= frames)
            break;
        const std::int64_t until = next_ < events.size() ? events[next_].sample : tune.endSample;
        const int n = static_cast<int>(std::min<std::int64_t>(until - position_, frames - done));
        if (synth)
            synth->renderAdd(out + 2 * static_cast<std::ptrdiff_t>(done), n);
        done += n;
        position_ += n;
    }
    if (!ended)
        return;

    // The tune has played out: let its last notes fade, and say so unless the UI thread has
    // asked for something else since this block began.
    if (synth)
        synth->releaseAll();
    std::lock_guard lock(mutex_);
    if (box_.serial == currentSerial_ && box_.command == command)
        setPlaying(false);
}

} // namespace sound
