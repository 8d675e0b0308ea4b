// SPDX-License-Identifier: GPL-3.0-or-later

// Arbitrary bytes as a sound file, read by libsndfile from memory: the decode must refuse or
// succeed, never crash, and whatever it returns must be safe to hand to the mixer.
#include "EffectFile.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto decoded = sound::decodeEffect({data, size});
    if (!decoded)
        return 0;
    const auto& samples = decoded->samples;
    constexpr std::size_t longest = std::size_t{48000} * sound::kMaxEffectSeconds + 1;
    if (samples.empty() || samples.size() % 2 != 0 || decoded->frames() > longest)
        std::abort();
    for (float v : samples) {
        if (!std::isfinite(v) || v < -1.0f || v > 1.0f)
            std::abort();
    }
    return 0;
}
