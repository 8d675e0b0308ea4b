// SPDX-License-Identifier: GPL-3.0-or-later

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

// Notes may be sent ahead of the sound: a cut silences them and play sends them again. Anything
// else changes a channel for good and waits for its sample.
bool isNote(const MidiEvent& e)
{
    const int kind = e.status & 0xF0;
    return kind == 0x80 || kind == 0x90;
}

} // namespace

Sequencer::Sequencer(SynthHost& host)
    : host_(host),
      fadeScratch_(static_cast<std::size_t>(kCutFadeFrames) * 2),
      ahead_(static_cast<std::size_t>(kAheadFrames) * 2)
{ }

void Sequencer::setPlaying(bool on)
{
    box_.playing = on;
    playing_.store(on, std::memory_order_release);
}

void Sequencer::load(std::shared_ptr<const MidiSequence> sequence)
{
    std::shared_ptr<const MidiSequence> tune = sequence;
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
        host_.prepare(std::move(tune), serial, &cutting_);
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
            releaseAhead(false);
            box_.retired = std::move(current_);
            current_ = box_.sequence;
            currentSerial_ = box_.serial;
            next_ = 0;
            position_ = 0;
            pendingReset_ = true;
        }
        if (box_.silence) {
            releaseAhead(true);
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

    // Read before the engine: a tune prepared on another font's engine plays on that one.
    const std::uint64_t preparedSerial = host_.preparedSerial();
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
        if (fadeLeft_ == 0 && (synth->sounding() || aheadLeft() > 0))
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
        aheadRead_ = aheadEnd_ = 0;
        // Done, unless another cut came in since this block began.
        std::lock_guard lock(mutex_);
        if (!box_.silence && box_.serial == currentSerial_)
            cutting_.store(false, std::memory_order_release);
    }

    const bool prepared = !synth || preparedSerial >= currentSerial_;
    if (playing && current_ && prepared) {
        if (aheadOfTune_)
            done += takeAhead(out + 2 * static_cast<std::ptrdiff_t>(done), frames - done);
        if (done < frames && synth && renderAhead(*synth, frames - done))
            done += takeAhead(out + 2 * static_cast<std::ptrdiff_t>(done), frames - done);
        // A block the stretch ahead cannot cover is played as it comes: a long block, a message
        // close by, or the end of the tune, which is also seen here once the stretch has run out.
        if (done < frames || (!aheadOfTune_ && position_ >= current_->endSample))
            advance(synth, out, frames, done, command);
    }

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
    const int rendered = takeAhead(fadeScratch_.data(), n);
    if (rendered < n)
        synth.renderAdd(fadeScratch_.data() + 2 * static_cast<std::ptrdiff_t>(rendered), n - rendered);
    for (int i = 0; i < n; ++i) {
        const float gain = fadeGain(fadeLeft_ - i);
        out[i * 2] += gain * fadeScratch_[static_cast<std::size_t>(i) * 2];
        out[i * 2 + 1] += gain * fadeScratch_[static_cast<std::size_t>(i) * 2 + 1];
    }
    fadeLeft_ -= n;
    return n;
}

void Sequencer::dispatchDue(SynthEngine* synth)
{
    const MidiSequence& tune = *current_;
    for (; next_ < tune.events.size() && tune.events[next_].sample <= position_; ++next_) {
        if (!synth)
            continue;
        const MidiEvent& e = tune.events[next_];
        if (e.status == 0xF0) {
            const MidiSysex& s = tune.sysex[e.sysex];
            synth->sysex(tune.sysexBytes.data() + s.offset, s.size);
        } else {
            synth->channelMessage(e.status, e.data1, e.data2);
        }
    }
}

bool Sequencer::renderAhead(SynthEngine& synth, int wanted)
{
    if (aheadLeft() > 0 || wanted >= kAheadFrames)
        return false;
    const MidiSequence& tune = *current_;
    dispatchDue(&synth);
    const std::size_t first = next_;
    // The stretch ends before the next message that is not a note, and at the tune's end.
    std::int64_t until = std::min(tune.endSample, position_ + kAheadFrames);
    for (std::size_t i = next_; i < tune.events.size() && tune.events[i].sample < until; ++i) {
        if (!isNote(tune.events[i]))
            until = tune.events[i].sample;
    }
    const int frames = static_cast<int>(until - position_);
    if (frames <= wanted)
        return false;
    std::fill(ahead_.begin(), ahead_.begin() + 2 * static_cast<std::ptrdiff_t>(frames), 0.0f);
    int done = 0;
    advance(&synth, ahead_.data(), frames, done, 0, false);
    aheadRead_ = 0;
    aheadEnd_ = frames;
    aheadOfTune_ = true;
    aheadFirst_ = first;
    return true;
}

int Sequencer::takeAhead(float* out, int frames)
{
    const int n = std::min(frames, aheadLeft());
    const float* from = ahead_.data() + 2 * static_cast<std::ptrdiff_t>(aheadRead_);
    for (std::size_t i = 0; i < static_cast<std::size_t>(n) * 2; ++i)
        out[i] += from[i];
    aheadRead_ += n;
    if (aheadLeft() == 0)
        aheadOfTune_ = false;
    return n;
}

void Sequencer::releaseAhead(bool rewind)
{
    if (!aheadOfTune_)
        return;
    aheadOfTune_ = false;
    if (!rewind)
        return;
    position_ -= aheadLeft();
    // The stretch sent only notes after aheadFirst_; those not yet heard are sent again.
    const std::vector<MidiEvent>& events = current_->events;
    const auto from = events.begin() + static_cast<std::ptrdiff_t>(aheadFirst_);
    next_ =
        static_cast<std::size_t>(std::lower_bound(from, events.begin() + static_cast<std::ptrdiff_t>(next_), position_,
                                                  [](const MidiEvent& e, std::int64_t at) { return e.sample < at; }) -
                                 events.begin());
}

void Sequencer::advance(SynthEngine* synth, float* out, int frames, int& done, std::uint64_t command, bool mayEnd)
{
    const MidiSequence& tune = *current_;
    const std::vector<MidiEvent>& events = tune.events;
    bool ended = false;
    for (;;) {
        // Events on the sample where a block ends go out at the start of the next, so that a
        // cut between the two finds them unsent.
        const bool atEnd = position_ >= tune.endSample;
        if (atEnd ? !mayEnd : done >= frames)
            break;
        dispatchDue(synth);
        if (atEnd) {
            ended = true;
            break;
        }
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
