// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "MidiFile.h"

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace sound {

// A General MIDI synthesiser as the sequencer sees it. Every call below is made with mutex()
// held: the audio thread takes it with try_lock while it renders, the loader thread while it
// prepares instruments, so neither ever waits long on the other.
class SynthEngine {
public:
    virtual ~SynthEngine() = default;

    std::mutex& mutex() { return mutex_; }

    virtual void channelMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) = 0;
    virtual void sysex(const std::uint8_t* data, std::size_t size) = 0;
    // Every voice silent at once, as a stop must be.
    virtual void soundOff() = 0;
    // Pedals up and every note released, so what sounds fades out by itself.
    virtual void releaseAll() = 0;
    // Silence and every channel back to its power-on controllers and instrument.
    virtual void reset() = 0;
    virtual bool sounding() = 0;
    // Adds `frames` interleaved stereo frames at kSequenceRate into `out`.
    virtual void renderAdd(float* out, int frames) = 0;
    // Loads every instrument the tune will choose, so that choosing them while it plays reads
    // nothing from disk on the audio thread, and leaves the synthesiser reset. False when one of
    // them could not be loaded, would sound nothing or would take too much memory: the font
    // cannot play the tune whole. Slow; the loader thread calls it.
    virtual bool prepare(const MidiSequence& tune) = 0;

private:
    std::mutex mutex_;
};

} // namespace sound
