// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstddef>
#include <cstdint>

namespace sound {

// What we accept as an effect before any library looks at it. The game's effects are a
// fraction of a second and a few hundred kilobytes; a whole song still plays, but a file that
// would need hundreds of megabytes once decoded is refused, however small it is on disk.
inline constexpr std::uint64_t kMaxEffectFileBytes = 64ull << 20;
inline constexpr int kMaxEffectSeconds = 200;
inline constexpr std::uint32_t kMinSampleRate = 1000;
inline constexpr std::uint32_t kMaxSampleRate = 384000;
inline constexpr int kMaxChannels = 8;

} // namespace sound
