#include "WavHeader.h"

#include "ByteOrder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

namespace sound {

namespace {

constexpr auto u16 = ombura::readLe16;
constexpr auto u32 = ombura::readLe32;
constexpr auto put16 = ombura::appendLe16;
constexpr auto put32 = ombura::appendLe32;

bool tagIs(std::span<const std::uint8_t> b, std::size_t at, const char (&tag)[5])
{
    return std::memcmp(b.data() + at, tag, 4) == 0;
}

void putTag(std::vector<std::uint8_t>& out, const char (&tag)[5])
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(tag[i]));
}

// The tail every standard subformat GUID of an extensible header shares.
constexpr std::array<std::uint8_t, 14> kGuidTail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                    0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::optional<WavError> resolveExtensible(std::span<const std::uint8_t> fmt, std::uint16_t& tag)
{
    if (fmt.size() < 40 || u16(fmt, 16) < 22)
        return WavError::BadHeader;
    if (!std::equal(kGuidTail.begin(), kGuidTail.end(), fmt.begin() + 26))
        return WavError::Unsupported;
    tag = u16(fmt, 24);
    // ADPCM inside an extensible header carries its extra fields elsewhere; nobody writes that.
    if (tag != static_cast<std::uint16_t>(WavEncoding::Pcm) && tag != static_cast<std::uint16_t>(WavEncoding::Float) &&
        tag != static_cast<std::uint16_t>(WavEncoding::ALaw) && tag != static_cast<std::uint16_t>(WavEncoding::MuLaw))
        return WavError::Unsupported;
    return std::nullopt;
}

// Checks the fields of a sample-per-byte-group encoding (PCM, float, A-law, mu-law).
std::optional<WavError> checkFramed(WavLayout& l, std::uint32_t byteRate)
{
    const auto bits = l.bitsPerSample;
    switch (l.encoding) {
    case WavEncoding::Pcm:
        if (bits != 8 && bits != 16 && bits != 24 && bits != 32)
            return WavError::Unsupported;
        break;
    case WavEncoding::Float:
        if (bits != 32)
            return WavError::Unsupported;
        break;
    default: // the two logarithmic encodings
        if (bits != 8)
            return WavError::BadHeader;
        break;
    }
    const std::uint32_t frameBytes = l.channels * (bits / 8u);
    if (l.blockAlign != frameBytes || byteRate != l.sampleRate * frameBytes)
        return WavError::BadHeader;
    // A partial frame at the end is dropped; less than one frame is nothing to play.
    l.data = l.data.first(l.data.size() / frameBytes * frameBytes);
    if (l.data.empty())
        return WavError::Empty;
    l.maxFrames = l.data.size() / frameBytes;
    return std::nullopt;
}

std::optional<WavError> checkAdpcm(WavLayout& l)
{
    if (l.bitsPerSample != 4 || l.fmtBody.size() < 20)
        return WavError::Unsupported;
    const std::uint16_t samplesPerBlock = u16(l.fmtBody, 18);
    const std::size_t headerBytes = l.encoding == WavEncoding::MsAdpcm ? 7u : 4u;
    if (l.encoding == WavEncoding::MsAdpcm && l.channels > 2)
        return WavError::Unsupported;
    if (l.blockAlign < headerBytes * l.channels || samplesPerBlock == 0)
        return WavError::BadHeader;
    // Two header samples per MS block, one per IMA block, plus two per remaining byte and channel.
    const std::size_t bodyBytes = l.blockAlign - headerBytes * l.channels;
    const std::size_t blockFrames = (l.encoding == WavEncoding::MsAdpcm ? 2u : 1u) + bodyBytes * 2 / l.channels;
    if (samplesPerBlock > blockFrames)
        return WavError::BadHeader;
    const std::size_t blocks = l.data.size() / l.blockAlign + 1;
    l.maxFrames = blocks * blockFrames;
    return std::nullopt;
}

} // namespace

std::variant<WavLayout, WavError> parseWavLayout(std::span<const std::uint8_t> file)
{
    if (file.empty())
        return WavError::Empty;
    if (file.size() < 12 || !tagIs(file, 0, "RIFF") || !tagIs(file, 8, "WAVE"))
        return WavError::NotWav;

    const std::uint64_t riffEnd = 8ull + u32(file, 4);
    if (riffEnd < 12)
        return WavError::BadHeader;
    // One byte of slack: writers often leave out the pad byte after an odd-sized last chunk.
    if (riffEnd > file.size() + 1)
        return WavError::Truncated;
    const std::size_t end = static_cast<std::size_t>(std::min<std::uint64_t>(riffEnd, file.size()));

    std::optional<std::span<const std::uint8_t>> fmt;
    std::optional<std::span<const std::uint8_t>> data;
    std::optional<std::span<const std::uint8_t>> fact;
    std::size_t at = 12;
    while (at < end) {
        if (end - at < 8)
            return WavError::Truncated;
        const std::uint32_t size = u32(file, at + 4);
        const std::size_t body = at + 8;
        if (size > end - body)
            return WavError::Truncated;
        const auto chunk = file.subspan(body, size);
        if (tagIs(file, at, "fmt ") && !fmt)
            fmt = chunk;
        else if (tagIs(file, at, "data") && !data)
            data = chunk;
        else if (tagIs(file, at, "fact") && !fact && size >= 4)
            fact = chunk.first(4);
        at = body + size + (size & 1u);
    }
    if (!fmt || !data || fmt->size() < 16)
        return WavError::BadHeader;

    WavLayout l;
    l.fmtBody = *fmt;
    std::uint16_t tag = u16(*fmt, 0);
    l.channels = u16(*fmt, 2);
    l.sampleRate = u32(*fmt, 4);
    const std::uint32_t byteRate = u32(*fmt, 8);
    l.blockAlign = u16(*fmt, 12);
    l.bitsPerSample = u16(*fmt, 14);
    l.data = *data;

    if (l.channels == 0 || l.sampleRate == 0 || l.blockAlign == 0)
        return WavError::BadHeader;
    if (l.channels > kMaxChannels || l.sampleRate < kMinSampleRate || l.sampleRate > kMaxSampleRate)
        return WavError::Unsupported;
    if (tag == 0xFFFE) {
        if (auto error = resolveExtensible(*fmt, tag))
            return *error;
    }
    if (l.data.empty())
        return WavError::Empty;

    std::optional<WavError> error;
    switch (tag) {
    case static_cast<std::uint16_t>(WavEncoding::Pcm):
    case static_cast<std::uint16_t>(WavEncoding::Float):
    case static_cast<std::uint16_t>(WavEncoding::ALaw):
    case static_cast<std::uint16_t>(WavEncoding::MuLaw):
        l.encoding = static_cast<WavEncoding>(tag);
        error = checkFramed(l, byteRate);
        break;
    case static_cast<std::uint16_t>(WavEncoding::MsAdpcm):
    case static_cast<std::uint16_t>(WavEncoding::ImaAdpcm):
        l.encoding = static_cast<WavEncoding>(tag);
        if (fact)
            l.factBody = *fact;
        error = checkAdpcm(l);
        break;
    default:
        return WavError::Unsupported;
    }
    if (error)
        return *error;
    return l;
}

std::vector<std::uint8_t> canonicalWavImage(const WavLayout& l)
{
    const bool adpcm = l.encoding == WavEncoding::MsAdpcm || l.encoding == WavEncoding::ImaAdpcm;
    std::vector<std::uint8_t> out;
    out.reserve(64 + l.fmtBody.size() + l.data.size());
    putTag(out, "RIFF");
    put32(out, 0); // patched below
    putTag(out, "WAVE");
    putTag(out, "fmt ");
    if (adpcm) {
        // The ADPCM decoders need the extra fields; the chunk was measured, so pass it on whole.
        put32(out, static_cast<std::uint32_t>(l.fmtBody.size()));
        out.insert(out.end(), l.fmtBody.begin(), l.fmtBody.end());
        if (l.fmtBody.size() & 1u)
            out.push_back(0);
        if (!l.factBody.empty()) {
            putTag(out, "fact");
            put32(out, static_cast<std::uint32_t>(l.factBody.size()));
            out.insert(out.end(), l.factBody.begin(), l.factBody.end());
        }
    } else {
        put32(out, 16);
        put16(out, static_cast<std::uint16_t>(l.encoding));
        put16(out, l.channels);
        put32(out, l.sampleRate);
        put32(out, l.sampleRate * l.blockAlign);
        put16(out, l.blockAlign);
        put16(out, l.bitsPerSample);
    }
    putTag(out, "data");
    put32(out, static_cast<std::uint32_t>(l.data.size()));
    out.insert(out.end(), l.data.begin(), l.data.end());
    if (l.data.size() & 1u)
        out.push_back(0);
    const auto riffSize = static_cast<std::uint32_t>(out.size() - 8);
    for (int i = 0; i < 4; ++i)
        out[4 + i] = static_cast<std::uint8_t>(riffSize >> (8 * i));
    return out;
}

} // namespace sound
