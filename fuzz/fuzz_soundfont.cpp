// Arbitrary bytes as a SoundFont: the directory reader must refuse or accept without crashing,
// and a view it makes of an accepted file must read back as the file up to its directory, then
// a directory that is itself accepted and holds exactly the asked-for presets the file has.
#include "SoundFontView.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> file(data, size);
    const std::optional<sound::SoundFontFile> font = sound::SoundFontFile::fromBytes("fuzz.sf2", file);
    if (!font)
        return 0;

    // The presets named by the first bytes, as a tune would name them.
    std::vector<sound::MidiPreset> keep;
    for (std::size_t i = 0; i + 1 < std::min<std::size_t>(size, 16); i += 2)
        keep.push_back(
            {static_cast<std::uint16_t>(data[i] >= 0x80 ? 128 : 0), static_cast<std::uint8_t>(data[i + 1] & 0x7F)});
    const auto view = font->view(keep);

    // The view reads the file's part through a descriptor, as FluidSynth's reads do.
    const int fd = ::memfd_create("fuzz.sf2", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, data, size) != static_cast<ssize_t>(size))
        std::abort();
    std::vector<std::uint8_t> whole(static_cast<std::size_t>(view->size()));
    const bool read = view->read(fd, 0, whole.data(), whole.size());
    std::uint8_t past = 0;
    const bool readPast = view->read(fd, view->size(), &past, 1);
    ::close(fd);
    if (!read || readPast)
        std::abort();

    const std::optional<sound::SoundFontFile> seen = sound::SoundFontFile::fromBytes("view.sf2", whole);
    if (!seen || seen->directory().instrumentCount() > font->directory().instrumentCount())
        std::abort();
    for (const sound::MidiPreset& p : keep) {
        if (seen->directory().has(p) != font->directory().has(p))
            std::abort();
    }
    const std::size_t prefix = whole.size() - font->directory().subset(keep).size();
    for (std::size_t i = 0; i < prefix; ++i) {
        if ((i < 4 || i >= 8) && whole[i] != data[i])
            std::abort();
    }
    return 0;
}
