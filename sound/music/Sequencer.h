// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "MidiFile.h"
#include "SynthHost.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace sound {

// Plays one tune into the synthesiser on the audio thread's sample clock.
//
// Every cut (stop, close, a new tune) fades what sounds to silence over kCutFadeFrames before
// the voices are silenced, so a cut never steps; the device reads stopped at once all the same.
//
// The UI thread's calls (load, unload, play, stop) queue a request under a mutex and say at
// once what the device reads; the audio thread owns everything else, takes the requests at the
// start of each block and applies them in order, each by its own transition. The position is
// the audio thread's: stop leaves it where it is, play goes on from it, load puts it back to
// the start.
class Sequencer {
public:
    static constexpr int kCutFadeFrames = static_cast<int>(kSequenceRate / 125); // 8 ms

    explicit Sequencer(SynthHost& host) : host_(host) { requests_.reserve(8); }

    // UI thread.
    // Puts the tune in place and asks the host for its instruments; it waits for them.
    void load(std::shared_ptr<const MidiSequence> tune);
    void unload();
    // False when there is no tune to play.
    bool play();
    void stop();
    bool playing() const { return playing_.load(std::memory_order_acquire); }

    // Audio thread: adds `frames` stereo frames into `out`.
    void render(float* out, int frames);
    // Notes still ringing after the tune stopped by itself.
    bool sounding() const { return sounding_.load(std::memory_order_acquire); }

private:
    // What the audio thread is doing with the tune.
    enum class State {
        Stopped, // nothing moves; what still rings after the tune's end rings out
        Cutting, // what sounds fades out, then the synthesiser is reset or silenced
        Waiting, // asked to play, waiting for the tune's instruments
        Playing, // the tune runs on the sample clock
    };
    // What a cut does once its fade is over: a stop silences, a new tune also resets.
    enum class Cut { Silence, Reset };

    struct Request {
        enum class Kind { Load, Play, Stop } kind;
        std::shared_ptr<const MidiSequence> tune; // Load's; afterwards, the tune it replaced
        std::uint64_t serial = 0;
    };

    // UI thread, with mutex_ held: queues a request, and frees the tunes of those taken. What
    // the device reads changes at once.
    void push(Request request);

    // Audio thread: the transitions.
    void takeRequests();
    void onLoad(Request& request);
    void onPlay();
    void onStop();
    void beginCut(Cut cut);
    // Fades what sounds into `out`; at the fade's end silences or resets. Returns frames used.
    int continueCut(FluidSynthEngine* synth, float* out, int frames);
    void finishCut(FluidSynthEngine* synth);
    void startPlaying(FluidSynthEngine* synth, std::uint64_t preparedSerial);
    // Plays the tune into out[done, frames); returns the new `done`.
    int playTune(FluidSynthEngine* synth, float* out, int done, int frames);
    void endTune(FluidSynthEngine* synth);
    // Sends the events due at the current position.
    void dispatchDue(FluidSynthEngine* synth);

    SynthHost& host_; // the audio thread reads its engine; the UI thread queues work with it

    mutable std::mutex mutex_; // guards the queue; either thread holds it for a few instructions
    std::vector<Request> requests_;
    std::size_t taken_ = 0; // requests_[0, taken_) are done, kept for the UI thread to free
    std::uint64_t serial_ = 0; // the UI thread's count of loads
    bool loaded_ = false; // the UI thread's: a tune is in place
    std::atomic<bool> playing_{false}; // what the device reads; written under mutex_
    std::atomic<bool> sounding_{false}; // the audio thread's, after each block; the UI thread reads it

    // Audio thread only.
    State state_ = State::Stopped;
    Cut cut_ = Cut::Silence;
    bool wantsPlay_ = false; // the last of play and stop taken was play
    int fadeLeft_ = -1; // frames of the cut's fade still to render; -1 before the fade begins
    std::shared_ptr<const MidiSequence> current_;
    std::uint64_t currentSerial_ = 0;
    std::size_t next_ = 0;
    std::int64_t position_ = 0;
    std::array<float, 2 * kCutFadeFrames> fadeScratch_{};
};

} // namespace sound
