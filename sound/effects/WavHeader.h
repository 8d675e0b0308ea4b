#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

namespace sound {

// Why a sound file could not be played. The player never shows these; tests and the cache do
// look at them.
enum class WavError {
    NotFound,
    NotAFile,
    Unreadable,
    TooLarge,
    Empty,
    NotWav,
    Truncated,
    BadHeader,
    Unsupported,
    DecodeFailed,
    TooLong,
};

// Format tags of the encodings we decode; an extensible header is resolved to one of these.
enum class WavEncoding : std::uint16_t {
    Pcm = 0x0001,
    MsAdpcm = 0x0002,
    Float = 0x0003,
    ALaw = 0x0006,
    MuLaw = 0x0007,
    ImaAdpcm = 0x0011,
};

// A checked WAVE file: the format fields we rely on and the sample data, trimmed to whole
// frames (whole blocks are left to the ADPCM decoder, which may use a partial last block).
struct WavLayout {
    WavEncoding encoding = WavEncoding::Pcm;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::span<const std::uint8_t> fmtBody; // the original fmt chunk, for the ADPCM coefficients
    std::span<const std::uint8_t> factBody; // ADPCM: the true frame count, without block padding
    std::span<const std::uint8_t> data;
    // An upper bound on the sample frames the data can hold, known before decoding.
    std::size_t maxFrames = 0;
};

inline constexpr std::uint32_t kMinSampleRate = 1000;
inline constexpr std::uint32_t kMaxSampleRate = 384000;
inline constexpr std::uint16_t kMaxChannels = 8;

// Walks the RIFF chunks and checks every field the decoder will trust. The bytes must outlive
// the returned layout.
std::variant<WavLayout, WavError> parseWavLayout(std::span<const std::uint8_t> file);

// A minimal, canonical WAVE image of the layout (fmt, ADPCM's fact, data), so that the
// decoder behind it sees nothing we did not check.
std::vector<std::uint8_t> canonicalWavImage(const WavLayout& layout);

} // namespace sound
