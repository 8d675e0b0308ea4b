// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "MidiSequence.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace sound {

// Limits that keep a hostile file from costing more than a few tens of MiB or a long time.
inline constexpr std::size_t kMaxMidiFileBytes = 16u << 20;
inline constexpr std::size_t kMaxMidiEvents = 1u << 20;
inline constexpr std::int64_t kMaxSequenceSamples = kSequenceRate * 60 * 60 * 24;

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
