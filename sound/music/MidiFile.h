// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sound {

// The sample clock every tune is timed on; the same rate as the mixer's output.
inline constexpr std::int64_t kSequenceRate = 48000;

// Limits that keep a hostile file from costing more than a few tens of MiB or a long time.
inline constexpr std::size_t kMaxMidiFileBytes = 16u << 20;
inline constexpr std::size_t kMaxMidiEvents = 1u << 20;
inline constexpr std::int64_t kMaxSequenceSamples = kSequenceRate * 60 * 60 * 24;

// One event ready to send to a synthesiser: a channel message (status 0x80..0xEF with one or
// two data bytes) or a complete system-exclusive message (status 0xF0, its bytes in `sysex`).
struct MidiEvent {
    std::int64_t sample = 0; // from the start of the tune
    std::uint32_t sysex = 0; // index into MidiSequence::sysex when status is 0xF0
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
    friend bool operator==(const MidiEvent&, const MidiEvent&) = default;
};

// A whole tune, all tracks merged in time order, tempo already applied.
struct MidiSequence {
    std::vector<MidiEvent> events;
    std::vector<std::vector<std::uint8_t>> sysex; // each without its framing F0 and F7
    std::int64_t endSample = 0; // the last event of any kind, end-of-track marks included
    friend bool operator==(const MidiSequence&, const MidiSequence&) = default;
};

// Reads a Standard MIDI File (format 0 or 1), bare or wrapped in a RIFF RMID, by its content
// alone. Anything malformed, truncated, of another kind or past the limits gives nullopt.
std::optional<MidiSequence> parseMidi(std::span<const std::uint8_t> bytes);

enum class MidiLoadError { None, NotFound, Invalid };

struct MidiLoad {
    MidiLoadError error = MidiLoadError::None;
    std::optional<MidiSequence> sequence;
};

// Reads and parses a file. Only regular files are read, never more than the size limit, and
// opening never blocks (a FIFO or a device under the name is refused, not waited on).
MidiLoad loadMidiFile(const std::string& path);

} // namespace sound
