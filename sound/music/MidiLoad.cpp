#include "MidiFile.h"

#include "FileDescriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace sound {

MidiLoad loadMidiFile(const std::string& path)
{
    MidiLoad result;
    // O_NONBLOCK: a FIFO under the name must not hold the caller until someone writes to it.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0) {
        result.error = MidiLoadError::NotFound;
        return result;
    }
    struct stat info { };
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uint64_t>(info.st_size) > kMaxMidiFileBytes) {
        result.error = MidiLoadError::Invalid;
        return result;
    }

    // Read one byte past the limit so a file that grew since fstat is still caught.
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t have = 0;
    while (have < bytes.size()) {
        const ssize_t n = ::read(file.get(), bytes.data() + have, bytes.size() - have);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result.error = MidiLoadError::Invalid;
            return result;
        }
        if (n == 0)
            break;
        have += static_cast<std::size_t>(n);
        if (have == bytes.size() && bytes.size() <= kMaxMidiFileBytes)
            bytes.resize(std::min(bytes.size() * 2, kMaxMidiFileBytes + 1));
    }
    if (have > kMaxMidiFileBytes) {
        result.error = MidiLoadError::Invalid;
        return result;
    }
    bytes.resize(have);

    result.sequence = parseMidi(bytes);
    if (!result.sequence)
        result.error = MidiLoadError::Invalid;
    return result;
}

} // namespace sound
