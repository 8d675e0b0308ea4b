// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sound {

// Frames a sound of `frames` frames at `rate` has at the output rate: the nearest whole number,
// so the tail of a sound is never cut short.
std::size_t resampledFrames(std::size_t frames, std::uint32_t rate);

// Converts interleaved stereo float from `rate` to the output rate, returning exactly
// resampledFrames() frames. At the output rate the samples come back as they are; nothing
// when libsoxr refuses the conversion. Runs off the audio thread: it allocates.
std::optional<std::vector<float>> resampleStereo(std::span<const float> stereo, std::uint32_t rate);

} // namespace sound
