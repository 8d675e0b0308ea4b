// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "MidiSequence.h"
#include "SynthHost.h"

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
// The UI thread's calls (load, unload, play, stop, playing) only touch a small mailbox under a
// mutex that render() also holds for a few instructions at the start of a block and, when the
// tune ends, once more; the synthesis itself runs outside it. The position belongs to the audio
// thread: stop leaves it where it is, play goes on from it, load puts it back to the start.
//
// A playing tune is rendered up to kAheadFrames ahead of what the device asks for and handed
// out from there. The synthesiser is then woken a quarter as often as the device, and most of
// its cost on a short block is waking: its voices and tables are out of the cache each time.
// Only notes are sent ahead of the sound; a controller, program or system message ends the
// stretch, so that a stop leaves the channels exactly as at the last sample heard. A cut fades
// what was rendered ahead and throws the rest away; play goes on from the sample heard.
class Sequencer {
public:
    static constexpr int kCutFadeFrames = static_cast<int>(kSequenceRate / 125); // 8 ms
    static constexpr int kAheadFrames = 2048; // 43 ms

    explicit Sequencer(SynthHost& host);

    // UI thread.
    // Puts the tune in place and asks the host for its instruments; it waits for them.
    void load(std::shared_ptr<const MidiSequence> sequence);
    void unload();
    // False when there is no tune to play.
    bool play();
    void stop();
    bool playing() const { return playing_.load(std::memory_order_acquire); }

    // Audio thread: adds `frames` stereo frames into `out`.
    void render(float* out, int frames);
    // Notes still ringing after the tune stopped by itself.
    bool sounding() const { return sounding_.load(std::memory_order_acquire); }

    // Frames of the tune handed out so far; read it only between render() calls (tests, tools).
    std::int64_t position() const { return position_ - (aheadOfTune_ ? aheadLeft() : 0); }

private:
    struct Mailbox {
        std::shared_ptr<const MidiSequence> sequence;
        std::uint64_t serial = 0;
        bool playing = false;
        std::uint64_t command = 0; // counts play and stop, so the audio thread can tell a stale end
        bool silence = false;
        // A tune the audio thread let go of; dropped here so it is never freed on that thread.
        std::shared_ptr<const MidiSequence> retired;
    };

    void setPlaying(bool on);
    // Plays the tune into out[done, frames). At its end, unless `mayEnd` is false, the notes are
    // released and the sequencer stops.
    void advance(SynthEngine* synth, float* out, int frames, int& done, std::uint64_t command, bool mayEnd = true);
    // Sends the events due at the current position.
    void dispatchDue(SynthEngine* synth);
    // Renders the tune ahead when at least `wanted` frames can be; false when it was not.
    bool renderAhead(SynthEngine& synth, int wanted);
    // Adds up to `frames` of what was rendered ahead into `out`; returns how many.
    int takeAhead(float* out, int frames);
    int aheadLeft() const { return aheadEnd_ - aheadRead_; }
    // A cut: what was rendered ahead is only sound to fade from now on. With `rewind` the tune
    // goes back to the sample last handed out, and will send again the notes it sent ahead.
    void releaseAhead(bool rewind);
    // Renders what still sounds, fading, into the start of `out`; returns the frames used.
    int fadeOut(SynthEngine& synth, float* out, int frames);

    SynthHost& host_; // the audio thread reads its engine; the UI thread queues work with it

    mutable std::mutex mutex_; // guards box_; either thread holds it for a few instructions
    Mailbox box_; // the UI thread writes it; the audio thread takes it over at a block's start
    std::atomic<bool> playing_{false}; // written with box_.playing, under mutex_; read without it
    std::atomic<bool> sounding_{false}; // the audio thread's, after each block; the UI thread reads it
    // A cut (stop, close, a new tune) was asked for while something sounded, and the audio
    // thread has not faded it out yet. The UI thread sets it, the audio thread clears it, and the
    // host's loader thread waits on it before it takes the synthesiser.
    std::atomic<bool> cutting_{false};

    // Audio thread only.
    std::shared_ptr<const MidiSequence> current_;
    std::uint64_t currentSerial_ = 0;
    std::size_t next_ = 0;
    std::int64_t position_ = 0;
    bool pendingReset_ = false;
    bool pendingSilence_ = false;
    int fadeLeft_ = 0; // frames of the cut's fade still to render; 0 when no fade runs
    std::vector<float> fadeScratch_;
    std::vector<float> ahead_; // stereo frames rendered ahead; [aheadRead_, aheadEnd_) not yet handed out
    int aheadRead_ = 0;
    int aheadEnd_ = 0;
    bool aheadOfTune_ = false; // the synthesiser and position_ are aheadLeft() frames past the sound
    std::size_t aheadFirst_ = 0; // next_ when the stretch began: no event before it is sent again
};

} // namespace sound
