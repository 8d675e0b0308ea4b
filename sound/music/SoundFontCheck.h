// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstddef>
#include <cstdint>
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
    // Null when the file's chunk table cannot be walked or a header table is missing or malformed.
    static std::optional<SoundFontDirectory> read(const std::string& path);

    // The bytes of memory the samples of `presets` take once FluidSynth has loaded them, each
    // sample counted once. Null when one of them is not in the font or reaches no sample that can
    // sound: the font would play that part of the tune in silence. It reads the file again for the
    // decoded length of an SF3 sample (the granule position of its last Ogg page, as libsndfile
    // reads it); a sample whose length cannot be told that way does not sound.
    std::optional<std::uint64_t> sampleBytes(std::span<const PresetNumber> presets) const;

    // A SoundFont with the same presets in the same order and nothing in them: FluidSynth chooses
    // among its presets as it would among this font's, and reads no sample doing so.
    std::vector<std::uint8_t> presetsOnly() const;

private:
    // A header table: records of `record` bytes, the terminal one included.
    struct Table {
        std::vector<std::uint8_t> bytes;
        std::size_t record = 1;
        std::size_t count() const { return bytes.size() / record; }
        std::uint32_t field(std::size_t r, std::size_t at, int size = 2) const;
    };
    // The records of the next level (instruments of a preset, samples of an instrument) that the
    // zones of `record` name.
    std::vector<std::size_t> linked(bool ofPreset, std::size_t record) const;
    // The bytes a sample takes in memory; 0 when it does not sound.
    std::uint64_t loadedBytes(std::size_t sample, int fd) const;

    std::string path_;
    Table phdr_, pbag_, pgen_, inst_, ibag_, igen_, shdr_;
    std::uint64_t sampleChunkAt_ = 0;
    std::uint64_t sampleChunkBytes_ = 0;
    std::uint64_t bytesPerFrame_ = 2;
};

} // namespace sound
