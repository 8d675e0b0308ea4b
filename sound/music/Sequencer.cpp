// SPDX-License-Identifier: GPL-3.0-or-later

#include "Sequencer.h"

#include "FluidSynthEngine.h"

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

void Sequencer::push(Request request)
{
    requests_.erase(requests_.begin(), requests_.begin() + static_cast<std::ptrdiff_t>(taken_));
    taken_ = 0;
    // A play reads playing at once; anything else stops the tune, and cuts what sounds.
    if (request.kind != Request::Kind::Play && (playing_.load() || sounding_.load()))
        host_.cutting.store(true, std::memory_order_release);
    playing_.store(request.kind == Request::Kind::Play, std::memory_order_release);
    requests_.push_back(std::move(request));
}

void Sequencer::load(std::shared_ptr<const MidiSequence> tune)
{
    std::uint64_t serial = 0;
    {
        std::lock_guard lock(mutex_);
        serial = ++serial_;
        loaded_ = tune != nullptr;
        push({Request::Kind::Load, tune, serial});
    }
    // The tune waits until the host has read its instruments under this serial.
    host_.prepare(std::move(tune), serial);
}

void Sequencer::unload()
{
    load(nullptr);
}

bool Sequencer::play()
{
    std::lock_guard lock(mutex_);
    if (!loaded_)
        return false;
    push({Request::Kind::Play, nullptr, 0});
    return true;
}

void Sequencer::stop()
{
    std::lock_guard lock(mutex_);
    push({Request::Kind::Stop, nullptr, 0});
}

void Sequencer::render(float* out, int frames)
{
    if (frames <= 0)
        return;
    takeRequests();

    const SynthHost::State hostState = host_.state();
    // While the font loads the tune waits: it starts from its beginning once there is sound.
    if (hostState == SynthHost::State::Loading)
        return;
    // Read before the engine: a tune prepared on another font's engine plays on that one.
    const std::uint64_t preparedSerial = host_.preparedSerial();
    FluidSynthEngine* synth = hostState == SynthHost::State::Ready ? host_.engine() : nullptr;
    const auto synthLock = synth ? std::unique_lock(synth->mutex(), std::try_to_lock) : std::unique_lock<std::mutex>();
    // The loader is reading instruments for a new tune; nothing plays meanwhile.
    if (synth && !synthLock.owns_lock())
        return;

    int done = 0;
    if (state_ == State::Cutting)
        done = continueCut(synth, out, frames);
    if (state_ == State::Waiting)
        startPlaying(synth, preparedSerial);
    if (state_ == State::Playing)
        done = playTune(synth, out, done, frames);
    if (synth) {
        if (done < frames && synth->sounding())
            synth->renderAdd(out + 2 * static_cast<std::ptrdiff_t>(done), frames - done);
        sounding_.store(synth->sounding(), std::memory_order_release);
    }
}

void Sequencer::takeRequests()
{
    std::lock_guard lock(mutex_);
    for (; taken_ < requests_.size(); ++taken_) {
        Request& request = requests_[taken_];
        if (request.kind == Request::Kind::Load)
            onLoad(request);
        else if (request.kind == Request::Kind::Play)
            onPlay();
        else
            onStop();
    }
}

// The tune it replaces goes back in the request, so that the UI thread frees it, not this one.
void Sequencer::onLoad(Request& request)
{
    beginCut(Cut::Reset);
    std::swap(current_, request.tune);
    currentSerial_ = request.serial;
    next_ = 0;
    position_ = 0;
    wantsPlay_ = false;
}

void Sequencer::onPlay()
{
    wantsPlay_ = true;
    if (state_ == State::Stopped)
        state_ = State::Waiting;
}

void Sequencer::onStop()
{
    wantsPlay_ = false;
    beginCut(Cut::Silence);
}

// A cut during a cut goes on with the same fade; a new tune's reset outweighs a stop's silence.
void Sequencer::beginCut(Cut cut)
{
    if (state_ == State::Cutting) {
        cut_ = std::max(cut_, cut);
        return;
    }
    state_ = State::Cutting;
    cut_ = cut;
    fadeLeft_ = -1;
}

int Sequencer::continueCut(FluidSynthEngine* synth, float* out, int frames)
{
    // Nothing sounding, or nothing to sound with: the cut ends at once.
    if (fadeLeft_ < 0)
        fadeLeft_ = synth && synth->sounding() ? kCutFadeFrames : 0;
    const int n = std::min(frames, fadeLeft_);
    const auto samples = static_cast<std::size_t>(n) * 2;
    std::fill(fadeScratch_.begin(), fadeScratch_.begin() + static_cast<std::ptrdiff_t>(samples), 0.0f);
    if (n > 0)
        synth->renderAdd(fadeScratch_.data(), n);
    for (std::size_t i = 0; i < samples; ++i)
        out[i] += fadeGain(fadeLeft_ - static_cast<int>(i / 2)) * fadeScratch_[i];
    fadeLeft_ -= n;
    if (fadeLeft_ == 0)
        finishCut(synth);
    return n;
}

void Sequencer::finishCut(FluidSynthEngine* synth)
{
    // A reset only releases the notes, and they ring on for a second or more; a tune closed or
    // replaced falls silent at once, as a stopped one does. The silencing comes after the reset,
    // whose releases would otherwise win.
    if (synth && cut_ == Cut::Reset)
        synth->reset();
    if (synth)
        synth->soundOff();
    state_ = wantsPlay_ ? State::Waiting : State::Stopped;
    // Done, unless another request came in since this block began.
    std::lock_guard lock(mutex_);
    if (taken_ == requests_.size())
        host_.cutting.store(false, std::memory_order_release);
}

void Sequencer::startPlaying(FluidSynthEngine* synth, std::uint64_t preparedSerial)
{
    if (!current_)
        state_ = State::Stopped;
    else if (!synth || preparedSerial >= currentSerial_)
        state_ = State::Playing;
}

int Sequencer::playTune(FluidSynthEngine* synth, float* out, int done, int frames)
{
    const MidiSequence& tune = *current_;
    const std::vector<MidiEvent>& events = tune.events;
    for (;;) {
        // Events on the sample where a block ends go out at the start of the next, so that a
        // cut between the two finds them unsent.
        const bool atEnd = position_ >= tune.endSample;
        if (!atEnd && done >= frames)
            return done;
        dispatchDue(synth);
        if (atEnd) {
            endTune(synth);
            return done;
        }
        const std::int64_t until = next_ < events.size() ? events[next_].sample : tune.endSample;
        const int n = static_cast<int>(std::min<std::int64_t>(until - position_, frames - done));
        if (synth)
            synth->renderAdd(out + 2 * static_cast<std::ptrdiff_t>(done), n);
        done += n;
        position_ += n;
    }
}

// The tune has played out: its last notes fade by themselves, and the device reads stopped
// unless the UI thread has asked for something since this block began.
void Sequencer::endTune(FluidSynthEngine* synth)
{
    if (synth)
        synth->releaseAll();
    state_ = State::Stopped;
    wantsPlay_ = false;
    std::lock_guard lock(mutex_);
    if (taken_ == requests_.size())
        playing_.store(false, std::memory_order_release);
}

void Sequencer::dispatchDue(FluidSynthEngine* synth)
{
    const MidiSequence& tune = *current_;
    for (; next_ < tune.events.size() && tune.events[next_].sample <= position_; ++next_) {
        if (synth)
            synth->send(tune, tune.events[next_]);
    }
}

} // namespace sound
