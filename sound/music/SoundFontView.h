#pragma once

#include "MidiSequence.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sound {

// The preset directory of a SoundFont 2 file: the contents of its "pdta" list, after the form
// type. FluidSynth builds full tables for every preset, instrument and zone of a font it loads
// (about 2 KB a zone: 4 to 10 MB for a GM font), and its reader holds the whole directory in
// small pieces meanwhile, whatever the tune plays. Shown a directory cut down to the tune's
// presets, it builds and reads only theirs.
class PresetDirectory {
public:
    // Null unless the nine sub-chunks are there in their order, in whole records, with every
    // index inside its table and rising as FluidSynth's reader requires.
    static std::optional<PresetDirectory> parse(std::vector<std::uint8_t> pdta);

    bool has(MidiPreset preset) const;
    std::size_t presetCount() const { return table(kPhdr).count - 1; }
    std::size_t instrumentCount() const { return table(kInst).count - 1; }

    // A whole "pdta" list chunk, header included, holding the presets in `keep` that this
    // directory has, the instruments they use renumbered in their order, and every sample
    // header unchanged (sample data is read from the file as before).
    std::vector<std::uint8_t> subset(std::span<const MidiPreset> keep) const;

private:
    enum Chunk { kPhdr, kPbag, kPmod, kPgen, kInst, kIbag, kImod, kIgen, kShdr, kChunks };
    struct Table {
        std::size_t offset = 0; // of the first record, in bytes_
        std::size_t count = 0; // records, the terminal one included
    };

    const Table& table(Chunk c) const { return tables_[static_cast<std::size_t>(c)]; }
    std::uint16_t field16(Chunk c, std::size_t record, std::size_t at) const;
    bool levelIsSound(Chunk header) const;

    std::vector<std::uint8_t> bytes_;
    std::array<Table, kChunks> tables_{};
};

// A SoundFont as FluidSynth is to read it: every byte of the file up to its preset directory,
// then a cut-down directory in place of the file's own.
class SoundFontView {
public:
    SoundFontView(std::string path, std::uint64_t prefix, std::vector<std::uint8_t> directory);

    const std::string& path() const { return path_; }
    std::uint64_t size() const { return prefix_ + directory_.size(); }
    // Copies `n` bytes from `at` into `out`, reading the file's part through `fd`; false when
    // the range runs past the end, or the file no longer holds what it did.
    bool read(int fd, std::uint64_t at, std::uint8_t* out, std::size_t n) const;

private:
    std::string path_;
    std::uint64_t prefix_; // the file's bytes kept: everything before the "pdta" list
    std::vector<std::uint8_t> directory_;
};

// A SoundFont 2 file whose directory has been read and checked.
class SoundFontFile {
public:
    // Null when the file is not a SoundFont 2 file laid out as FluidSynth reads one (the
    // "INFO", "sdta" and "pdta" lists in that order, sizes that add up), or its directory
    // is unsound. The caller then leaves the file to FluidSynth's own checks.
    static std::optional<SoundFontFile> open(const std::string& path);
    // The same, from the whole file in memory; for tests and the fuzzer.
    static std::optional<SoundFontFile> fromBytes(std::string path, std::span<const std::uint8_t> file);

    const PresetDirectory& directory() const { return directory_; }
    std::shared_ptr<const SoundFontView> view(std::span<const MidiPreset> keep) const;

private:
    SoundFontFile(std::string path, std::uint64_t pdtaList, PresetDirectory directory);
    // The file, once the directory read from it (the "pdta" list's contents) proves sound.
    static std::optional<SoundFontFile> make(std::string path, std::uint64_t pdtaList, std::vector<std::uint8_t> pdta);

    std::string path_;
    std::uint64_t pdtaList_; // where the "pdta" list's header begins
    PresetDirectory directory_;
};

} // namespace sound
