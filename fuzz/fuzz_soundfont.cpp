// SPDX-License-Identifier: GPL-3.0-or-later

// Arbitrary bytes as a SoundFont: the directory must be read or refused without crashing,
// reading only inside the file, and every question about the presets it found (the samples a
// tune choosing all of them would load, the font of presets only) answered the same way.
#include "SoundFontCheck.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const sound::ReadAt read = [&](std::uint64_t offset, std::span<std::uint8_t> into) {
        if (offset > size || size - offset < into.size())
            return false;
        std::memcpy(into.data(), data + offset, into.size());
        return true;
    };
    const std::optional<sound::SoundFontDirectory> directory = sound::SoundFontDirectory::read(size, read);
    if (!directory)
        return 0;
    // The font of presets only is a directory of its own, with the same presets, none of which sounds.
    const std::vector<std::uint8_t> presets = directory->presetsOnly();
    const sound::ReadAt readPresets = [&](std::uint64_t offset, std::span<std::uint8_t> into) {
        if (offset > presets.size() || presets.size() - offset < into.size())
            return false;
        std::memcpy(into.data(), presets.data() + offset, into.size());
        return true;
    };
    const std::optional<sound::SoundFontDirectory> empty = sound::SoundFontDirectory::read(presets.size(), readPresets);
    if (!empty)
        std::abort();
    for (int bank : {0, 128})
        for (int program = 0; program < 128; program += 7) {
            const sound::PresetNumber p{bank, program};
            if (empty->sampleBytes(std::span(&p, 1), readPresets))
                std::abort();
            (void)directory->sampleBytes(std::span(&p, 1), read);
        }
    return 0;
}
