// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "TempDir.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace hardening {

// The ways a data file can be wrong when the game comes to it.
enum class BadKind {
    Missing,
    Empty,
    Directory,
    Unreadable, // mode 000; root reads it all the same
    TruncatedHeader, // cut inside the first chunk header
    TruncatedBody, // cut halfway through
    LyingHeader, // the sizes in the header claim far more than the file holds
    OtherKind, // the music where a sound belongs, a sound where the music belongs
    RandomBytes,
    VeryLarge, // 200 MiB, sparse, behind a header that looks right
    Fifo, // a named pipe nobody writes to
    LinkLoop, // a symbolic link to itself
};

std::string_view name(BadKind kind);

enum class FileType { Midi, Wav };

// Replaces `target` (a good copy of a file of `type`) by its bad form. `otherKind` is a good
// file of the other type, for BadKind::OtherKind.
void spoil(const std::filesystem::path& target, FileType type, BadKind kind, const std::filesystem::path& otherKind);

// A folder with blanks, brackets, a dollar sign and non-ASCII characters in its path, removed
// with everything in it.
class OddProgramFolder : public testing_support::TempDir {
public:
    OddProgramFolder() : TempDir("a b/\xC3\xBC'x [\xC3\xA4] $HOME") { }
};

} // namespace hardening
