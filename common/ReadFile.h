// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Reading a data file whole, safely: whatever is under the name (a FIFO, a device, a folder, a
// file that grows while read) neither blocks the caller nor takes more memory than it allows.

#include "FileDescriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

namespace ombura {

enum class ReadError {
    None,
    NotFound, // nothing under the name, or a path through something that is not a folder
    CannotOpen, // there, but it would not open (permissions, too many open files...)
    Unreadable, // opened, but examining or reading it failed
    NotAFile, // a FIFO, device, socket or folder: never read
    TooLarge, // more than the limit, when opened or by the end of reading
};

struct FileContents {
    ReadError error = ReadError::None;
    // What fstat said of the file; valid when error is None, NotAFile or TooLarge.
    struct stat info{};
    std::vector<std::uint8_t> bytes; // only when error is None; a file that shrank gives less
};

inline FileContents readRegularFile(const std::string& path, std::uint64_t limit)
{
    FileContents result;
    // O_NONBLOCK: a FIFO under the name must not hold the caller until someone writes to it.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0) {
        result.error = errno == ENOENT || errno == ENOTDIR ? ReadError::NotFound : ReadError::CannotOpen;
        return result;
    }
    if (::fstat(file.get(), &result.info) != 0) {
        result.error = ReadError::Unreadable;
        return result;
    }
    if (!S_ISREG(result.info.st_mode)) {
        result.error = ReadError::NotAFile;
        return result;
    }
    if (static_cast<std::uint64_t>(result.info.st_size) > limit) {
        result.error = ReadError::TooLarge;
        return result;
    }

    // Read one byte past the size so a file that grew since fstat is still caught.
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(result.info.st_size) + 1);
    std::size_t have = 0;
    while (have < bytes.size()) {
        const ssize_t n = ::read(file.get(), bytes.data() + have, bytes.size() - have);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result.error = ReadError::Unreadable;
            return result;
        }
        if (n == 0)
            break;
        have += static_cast<std::size_t>(n);
        if (have == bytes.size() && bytes.size() <= limit)
            bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size() * 2, limit + 1)));
    }
    if (have > limit) {
        result.error = ReadError::TooLarge;
        return result;
    }
    bytes.resize(have);
    result.bytes = std::move(bytes);
    return result;
}

} // namespace ombura
