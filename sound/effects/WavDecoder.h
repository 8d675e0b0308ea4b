#pragma once

#include "WavHeader.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sound {

// A sound ready for the mixer: interleaved stereo float at the output rate, every sample
// finite and within [-1, 1], never empty.
struct Waveform {
    std::vector<float> samples;
    std::size_t frames() const { return samples.size() / 2; }
};

struct WavResult {
    std::optional<Waveform> sound;
    WavError error = WavError::DecodeFailed; // meaningful only when there is no sound
};

// Identifies one version of a file on disk, so a cache can tell when it has changed.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t mtimeNs = 0;
    std::uint64_t size = 0;
    bool operator==(const FileStamp&) const = default;
};

// The three effects are a few hundred kilobytes; anything past these is not an effect.
inline constexpr std::uint64_t kMaxWavFileBytes = 64ull << 20;
inline constexpr std::size_t kMaxWaveformFrames = std::size_t{1} << 23; // about 175 s

// Decodes a WAVE file image, whatever it is called, to the output format.
WavResult decodeWav(std::span<const std::uint8_t> file);

// Reads and decodes the file at `path`. A FIFO or device is refused without being read, and
// `stamp` (if given) receives the identity of what was read.
WavResult loadWavFile(const std::string& path, FileStamp* stamp = nullptr);

// The identity of what is at `path` now, or nothing when it cannot be examined.
std::optional<FileStamp> stampOf(const std::string& path);

} // namespace sound
