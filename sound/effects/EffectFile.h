// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "Waveform.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace sound {

// Why a sound file could not be played. The player never shows these; tests look at them.
enum class EffectError {
    NotFound,
    NotAFile,
    Unreadable,
    TooLarge,
    Empty,
    Unsupported, // not a format libsndfile reads, or one it cannot make sense of
    BadFormat, // a rate or a channel count past our limits
    TooLong,
    Truncated, // the file holds less than its header says
    DecodeFailed,
};

struct EffectDecode {
    std::optional<Waveform> sound;
    EffectError error = EffectError::DecodeFailed; // meaningful only when there is no sound
};

// Decodes a whole sound file image in any format libsndfile reads, whatever it is called, to
// the output format.
EffectDecode decodeEffect(std::span<const std::uint8_t> image);

// Reads and decodes the file at `path`. A FIFO or device is refused without being read.
EffectDecode loadEffectFile(const std::string& path);

} // namespace sound
