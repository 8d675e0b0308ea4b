// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sound {

// A sound ready for the mixer: interleaved stereo float at the output rate, every sample
// finite and within [-1, 1], never empty.
struct Waveform {
    std::vector<float> samples;
    std::size_t frames() const { return samples.size() / 2; }
};

// Identifies one version of a file on disk, so a cache can tell when it has changed.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t mtimeNs = 0;
    std::uint64_t size = 0;
    bool operator==(const FileStamp&) const = default;
};

// The identity of the regular file at `path` now, or nothing when there is none (a missing
// file, a folder, a FIFO, a device).
std::optional<FileStamp> stampOf(const std::string& path);

} // namespace sound
