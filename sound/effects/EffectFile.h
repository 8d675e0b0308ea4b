// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// An effect file decoded to what the mixer plays: libsndfile reads any format it knows from
// memory, our limits stand in front of it, and libsoxr converts to the output rate.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sound {

// What we accept as an effect before any library looks at it. The game's effects are a
// fraction of a second and a few hundred kilobytes; a whole song still plays, but a file that
// would need hundreds of megabytes once decoded is refused, however small it is on disk.
inline constexpr std::uint64_t kMaxEffectFileBytes = 64ull << 20;
inline constexpr int kMaxEffectSeconds = 200;
inline constexpr int kMinEffectRate = 1000;
inline constexpr int kMaxEffectRate = 384000;
inline constexpr int kMaxEffectChannels = 8;

// A sound ready for the mixer: interleaved stereo float at the output rate, every sample
// finite and within [-1, 1], never empty.
struct Waveform {
    std::vector<float> samples;
    std::size_t frames() const { return samples.size() / 2; }
};

// Decodes a whole sound file image, whatever it is called. Nothing when the image is not a
// sound libsndfile reads, is past our limits, or holds less than its header says.
std::optional<Waveform> decodeEffect(std::span<const std::uint8_t> image);

// Reads and decodes the file at `path`. A FIFO or device is refused without being read.
std::optional<Waveform> loadEffectFile(const std::string& path);

// Converts interleaved stereo float from `rate` to the output rate with libsoxr, returning
// round(frames * 48000 / rate) frames, so the tail of a sound is never cut short. At the output
// rate the samples come back as they are; nothing when libsoxr refuses the conversion.
std::optional<std::vector<float>> resampleStereo(std::span<const float> stereo, int rate);

} // namespace sound
