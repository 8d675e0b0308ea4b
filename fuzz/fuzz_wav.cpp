// Arbitrary bytes as a sound file: the checker and the decoder must refuse or decode, never
// crash, and whatever they return must be safe to hand to the mixer.
#include "WavDecoder.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto result = sound::decodeWav({data, size});
    if (!result.sound)
        return 0;
    const auto& samples = result.sound->samples;
    if (samples.empty() || samples.size() % 2 != 0 || result.sound->frames() > sound::kMaxWaveformFrames)
        std::abort();
    for (float v : samples) {
        if (!std::isfinite(v) || v < -1.0f || v > 1.0f)
            std::abort();
    }
    return 0;
}
