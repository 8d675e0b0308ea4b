// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <vector>

namespace sound {

// The sample clock every tune is timed on; the same rate as the mixer's output.
inline constexpr std::int64_t kSequenceRate = 48000;

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

struct MidiSysex {
    std::uint32_t offset = 0; // into MidiSequence::sysexBytes; without the framing F0 and F7
    std::uint32_t size = 0;
    friend bool operator==(const MidiSysex&, const MidiSysex&) = default;
};

// A whole tune, all tracks merged in time order, tempo already applied.
struct MidiSequence {
    std::vector<MidiEvent> events;
    std::vector<MidiSysex> sysex;
    std::vector<std::uint8_t> sysexBytes;
    std::int64_t endSample = 0; // the last event of any kind, end-of-track marks included
    friend bool operator==(const MidiSequence&, const MidiSequence&) = default;
};

} // namespace sound
