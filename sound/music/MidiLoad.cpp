// SPDX-License-Identifier: GPL-3.0-or-later

#include "MidiFile.h"

#include "ReadFile.h"

namespace sound {

MidiLoad loadMidiFile(const std::string& path)
{
    MidiLoad result;
    ombura::FileContents file = ombura::readRegularFile(path, kMaxMidiFileBytes);
    if (file.error == ombura::ReadError::NotFound || file.error == ombura::ReadError::CannotOpen) {
        result.error = MidiLoadError::NotFound;
        return result;
    }
    if (file.error != ombura::ReadError::None) {
        result.error = MidiLoadError::Invalid;
        return result;
    }
    result.sequence = parseMidi(file.bytes);
    if (!result.sequence)
        result.error = MidiLoadError::Invalid;
    return result;
}

} // namespace sound
