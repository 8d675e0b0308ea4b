// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sound {

// FluidSynth holds the samples of every instrument a tune chooses in memory, as large as their
// headers say (an SF3 sample as large as it decodes to), and reads nothing else of the font. A
// tune whose instruments would take more than this is refused before anything is read, and the
// next font tried. Every General MIDI instrument and the standard kit together take 5.4 MiB of
// TimGM6mb, 135 MiB of FluidR3_GM and 191 MiB of MuseScore General (decoded).
inline constexpr std::uint64_t kMaxTuneSampleBytes = std::uint64_t{256} << 20;

// Fills `into` from the file at `offset`; false when the file does not hold that many bytes.
using ReadAt = std::function<bool(std::uint64_t offset, std::span<std::uint8_t> into)>;

struct PresetNumber {
    int bank = 0;
    int program = 0;
    friend bool operator==(const PresetNumber&, const PresetNumber&) = default;
};

// A SoundFont 2 or 3 file's directory: its presets, which instruments they play and which
// samples those reach, read from the chunk table and the preset, instrument and sample headers
// alone. What it says of a sample follows FluidSynth: a sample whose range FluidSynth refuses
// (start not before end, or past the sample chunk), or that lives in a synthesiser's ROM, never
// sounds.
class SoundFontDirectory {
public:
    // Null when the chunk table cannot be walked or a header table is missing or malformed.
    static std::optional<SoundFontDirectory> read(std::uint64_t fileSize, const ReadAt& read);
    static std::optional<SoundFontDirectory> read(const std::string& path);

    // The bytes of memory the samples of `presets` take once FluidSynth has loaded them, each
    // sample counted once. Null when one of them is not in the font or reaches no sample that can
    // sound: the font would play that part of the tune in silence. `read` reads the file again,
    // for the decoded length of an SF3 sample (the granule position of its last Ogg page, as
    // libsndfile reads it); a sample whose length cannot be told that way does not sound.
    std::optional<std::uint64_t> sampleBytes(std::span<const PresetNumber> presets, const ReadAt& read) const;
    std::optional<std::uint64_t> sampleBytes(std::span<const PresetNumber> presets, const std::string& path) const;

    // A SoundFont with the same presets in the same order and nothing in them: FluidSynth chooses
    // among its presets as it would among this font's, and reads no sample doing so.
    std::vector<std::uint8_t> presetsOnly() const;

private:
    struct Preset {
        PresetNumber number;
        std::uint32_t firstZone = 0;
        std::uint32_t endZone = 0;
    };
    struct Range {
        std::uint32_t first = 0;
        std::uint32_t end = 0;
    };
    struct Sample {
        std::uint32_t start = 0;
        std::uint32_t end = 0;
        std::uint16_t type = 0;
    };
    struct Loaded {
        bool sounds = false;
        std::uint64_t bytes = 0;
    };
    Loaded loaded(const Sample& sample, const ReadAt& read) const;

    std::vector<Preset> presets_;
    std::vector<int> presetZoneInstrument_; // -1 for a zone without one
    std::vector<Range> instrumentZones_;
    std::vector<int> instrumentZoneSample_;
    std::vector<Sample> samples_;
    std::uint64_t sampleChunkAt_ = 0;
    std::uint64_t sampleChunkBytes_ = 0;
    std::uint64_t bytesPerFrame_ = 2;
};

} // namespace sound
