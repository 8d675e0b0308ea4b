#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// Decoding a RIFF WAVE image with SDL, behind plain types. SDL is opened at run time on the
// first call; without it nothing decodes.
namespace sound::sdl {

enum class SampleEncoding { U8, S16, S32, F32 };

// Decoded samples as SDL hands them over, still in the file's rate and channel count.
struct RawSamples {
    SampleEncoding encoding = SampleEncoding::S16;
    int channels = 0;
    int rate = 0;
    std::vector<std::uint8_t> bytes;
};

// Decodes a whole WAVE file image. The caller has checked its layout already; this only
// refuses what SDL itself refuses or what it returns in an unexpected shape.
std::optional<RawSamples> decodeWave(std::span<const std::uint8_t> image);

} // namespace sound::sdl
