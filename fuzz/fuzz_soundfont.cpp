// SPDX-License-Identifier: GPL-3.0-or-later

// Arbitrary bytes as a SoundFont: the directory must be read or refused without crashing,
// reading only inside the file, and every question about the presets it found (the samples a
// tune choosing all of them would load, the font of presets only) answered the same way.
#include "FileDescriptor.h"
#include "SoundFontCheck.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

namespace {

// The directory reads a file by its name: the bytes go into one in memory.
struct MemoryFile {
    MemoryFile(const std::uint8_t* data, std::size_t size) : fd(memfd_create("fuzz", MFD_CLOEXEC))
    {
        if (::write(fd.get(), data, size) != static_cast<ssize_t>(size))
            std::abort();
    }
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd.get()); }
    ombura::FileDescriptor fd;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const MemoryFile font(data, size);
    const std::optional<sound::SoundFontDirectory> directory = sound::SoundFontDirectory::read(font.path());
    if (!directory)
        return 0;
    // The font of presets only is a directory of its own, with the same presets, none of which sounds.
    const std::vector<std::uint8_t> presets = directory->presetsOnly();
    const MemoryFile presetsFont(presets.data(), presets.size());
    const std::optional<sound::SoundFontDirectory> empty = sound::SoundFontDirectory::read(presetsFont.path());
    if (!empty)
        std::abort();
    for (int bank : {0, 128})
        for (int program = 0; program < 128; program += 7) {
            const sound::PresetNumber p{bank, program};
            if (empty->sampleBytes(std::span(&p, 1)))
                std::abort();
            (void)directory->sampleBytes(std::span(&p, 1));
        }
    return 0;
}
