#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace sound {

// Frames a sound of `frames` frames at `rate` has at the output rate: the nearest whole number,
// so the tail of a sound is never cut short.
std::size_t resampledFrames(std::size_t frames, std::uint32_t rate);

// Converts interleaved stereo float from `rate` to the output rate with a windowed-sinc filter,
// returning exactly resampledFrames() frames. Runs off the audio thread: it allocates.
std::vector<float> resampleStereo(std::span<const float> stereo, std::uint32_t rate);

} // namespace sound
