// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstddef>
#include <vector>

namespace sound {

// A sound ready for the mixer: interleaved stereo float at the output rate, every sample
// finite and within [-1, 1], never empty.
struct Waveform {
    std::vector<float> samples;
    std::size_t frames() const { return samples.size() / 2; }
};

} // namespace sound
