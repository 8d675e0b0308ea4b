// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace sound {

// FluidSynth holds an instrument's samples in memory as its headers describe them, however
// large. Every Debian General MIDI font claims under 150 MiB (FluidR3_GM, whose samples are
// its 141 MiB); a font claiming more is refused before FluidSynth sees it.
inline constexpr std::uint64_t kMaxSampleBytes = std::uint64_t{512} << 20;

// Fills `into` from the file at `offset`; false when the file does not hold that many bytes.
using ReadAt = std::function<bool(std::uint64_t offset, std::span<std::uint8_t> into)>;

// The bytes of sample data a SoundFont 2 or 3 file's sample headers claim, found from its
// chunk table and its sample headers alone. Null when the chunk table cannot be walked, when
// there is no sample chunk or no sample headers, or when a header reaches past the sample
// chunk.
std::optional<std::uint64_t> claimedSampleBytes(std::uint64_t fileSize, const ReadAt& read);

// True when `path` is a SoundFont whose sample headers stay inside its sample chunk and claim
// no more than kMaxSampleBytes.
bool sampleMemoryBounded(const std::string& path);

} // namespace sound
