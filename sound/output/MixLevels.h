// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cmath>

namespace sound {

// The levels of the mix. The music and the effects are set against each other by integrated
// loudness (EBU R128, as libebur128 measures it in the tests and benchmarks), not by peak or
// RMS: the shipped tune through FluidSynth and the shipped spin sound sit within a few LU of
// each other, and both leave room below full scale for the other to sound at the same time.
// docs/SOUND.md has the measurements behind these numbers.
struct MixLevels {
    float music = 1.0f;
    float effects = 1.0f;
};

inline constexpr MixLevels kMixLevels{3.3f, 0.25f};

// The end of the mix: linear up to the knee, then bending smoothly towards the ceiling, which
// no input however loud, nor a sum of loud inputs, can pass. The shipped files together stay
// below the knee; only a dense tune of the user's own reaches it.
inline constexpr float kLimiterKnee = 0.6f; // -4.4 dBFS
inline constexpr float kLimiterCeiling = 0.891f; // -1 dBFS

inline float softLimit(float x)
{
    if (!std::isfinite(x))
        return 0.0f;
    const float a = std::fabs(x);
    if (a <= kLimiterKnee)
        return x;
    constexpr float room = kLimiterCeiling - kLimiterKnee;
    const float bent = kLimiterKnee + room * std::tanh((a - kLimiterKnee) / room);
    return std::copysign(bent, x);
}

} // namespace sound
