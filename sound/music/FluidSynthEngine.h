// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "SoundFontCheck.h"
#include "SynthEngine.h"

#include <fluidsynth.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sound {

// A FluidSynth synthesiser with one SoundFont loaded whole, its samples read on demand.
class FluidSynthEngine final : public SynthEngine {
public:
    // Null when the font is refused, by FluidSynth or because its
    // directory cannot be read (SoundFontCheck). Slow: it reads the font's directory.
    static std::unique_ptr<FluidSynthEngine> create(const std::string& path);
    ~FluidSynthEngine() override;
    FluidSynthEngine(const FluidSynthEngine&) = delete;
    FluidSynthEngine& operator=(const FluidSynthEngine&) = delete;

    const std::string& path() const { return path_; }

    void channelMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) override;
    void sysex(const std::uint8_t* data, std::size_t size) override;
    void soundOff() override;
    void releaseAll() override;
    void reset() override;
    bool sounding() override;
    void renderAdd(float* out, int frames) override;
    bool prepare(const MidiSequence& tune) override;

private:
    static constexpr int kScratchFrames = 512;

    using Preset = PresetNumber;
    enum class Samples { OnDemand, None };

    FluidSynthEngine(std::string path, fluid_settings_t* settings, fluid_synth_t* synth);
    static FluidSynthEngine* load(const std::string& path, Samples samples);
    std::vector<Preset> choices(const MidiSequence& tune);
    void dropBufferedFrames();
    void choosePowerOnInstrument(int channel);

    std::string path_;
    fluid_settings_t* settings_; // the synth reads it for as long as it lives
    fluid_synth_t* synth_;
    int font_ = FLUID_FAILED;
    std::optional<SoundFontDirectory> directory_;
    // A synthesiser with a font of the same presets and no samples, which tells the instruments a
    // tune will choose before any is read.
    std::unique_ptr<FluidSynthEngine> chooser_;
    std::vector<Preset> pinned_;
    std::uint32_t chosen_ = 0; // channels whose instrument is chosen since the last reset
    bool playable_ = true; // false when the last tune's instruments could not all be read
    std::uint64_t rendered_ = 0;
    std::array<float, kScratchFrames * 2> scratch_{};
};

} // namespace sound
