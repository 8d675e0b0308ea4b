// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "MidiFile.h"
#include "SoundFontCheck.h"

#include <fluidsynth.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sound {

// A FluidSynth synthesiser with one SoundFont loaded whole, its samples read on demand.
//
// Every call but create() is made with mutex() held: the audio thread takes it with try_lock
// while it renders, the loader thread while it prepares instruments, so neither ever waits long
// on the other.
class FluidSynthEngine {
public:
    // Null when the font is refused, by FluidSynth or because its directory cannot be read
    // (SoundFontCheck). Slow: it reads the font's directory.
    static std::unique_ptr<FluidSynthEngine> create(const std::string& path);
    ~FluidSynthEngine();

    std::mutex& mutex() { return mutex_; }

    // One event of `tune`.
    void send(const MidiSequence& tune, const MidiEvent& event);
    void channelMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);
    void sysex(const std::uint8_t* data, std::size_t size);
    // Every voice silent at once, as a stop must be.
    void soundOff();
    // Pedals up and every note released, so what sounds fades out by itself.
    void releaseAll();
    // Silence and every channel back to its power-on controllers and instrument.
    void reset();
    bool sounding() { return fluid_synth_get_active_voice_count(synth_) > 0; }
    // Adds `frames` interleaved stereo frames at kSequenceRate into `out`.
    void renderAdd(float* out, int frames);
    // Loads every instrument the tune will choose, so that choosing them while it plays reads
    // nothing from disk on the audio thread, and leaves the synthesiser reset. False when one of
    // them could not be loaded, would sound nothing or would take too much memory: the font
    // cannot play the tune whole, and plays none of it. Slow; the loader thread calls it.
    bool prepare(const MidiSequence& tune);

private:
    static constexpr int kScratchFrames = 512;

    enum class Samples { OnDemand, None };

    explicit FluidSynthEngine(Samples samples);
    static std::unique_ptr<FluidSynthEngine> load(const std::string& path, Samples samples);
    std::vector<PresetNumber> choices(const MidiSequence& tune);
    void dropBufferedFrames();
    void choosePowerOnInstrument(int channel);

    std::mutex mutex_;
    fluid_settings_t* settings_; // the synth reads it for as long as it lives
    fluid_synth_t* synth_ = nullptr;
    int font_ = FLUID_FAILED;
    std::optional<SoundFontDirectory> directory_;
    // A synthesiser with a font of the same presets and no samples, which tells the instruments a
    // tune will choose before any is read.
    std::unique_ptr<FluidSynthEngine> chooser_;
    std::vector<PresetNumber> pinned_;
    std::uint32_t chosen_ = 0; // channels whose instrument is chosen since the last reset
    bool playable_ = true; // false when the last tune's instruments could not all be read
    std::uint64_t rendered_ = 0;
    std::array<float, kScratchFrames * 2> scratch_{};
};

} // namespace sound
