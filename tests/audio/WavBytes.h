// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Builds WAVE files byte by byte for the audio tests, including deliberately broken ones.

#include "ByteOrder.h"
#include "ByteWriter.h"
#include "TempDir.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace wavtest {

using Bytes = std::vector<std::uint8_t>;

using ombura::appendLe16;
using ombura::appendLe32;

inline void put16(Bytes& b, std::uint32_t v)
{
    appendLe16(b, v);
}

inline void put32(Bytes& b, std::uint32_t v)
{
    appendLe32(b, v);
}

// A chunk identifier is four bytes; a shorter tag is padded with blanks as RIFF does, so a test
// can never read past the end of its own string.
inline void putTag(Bytes& b, const std::string& tag)
{
    for (std::size_t i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(i < tag.size() ? tag[i] : ' '));
}

struct Chunk {
    std::string tag;
    Bytes body;
    std::int64_t declaredSize = -1; // -1: the real size
};

// A RIFF WAVE file of the chunks; riffSize < 0 writes the true size.
inline Bytes riff(const std::vector<Chunk>& chunks, std::int64_t riffSize = -1)
{
    Bytes b;
    putTag(b, "RIFF");
    put32(b, 0);
    putTag(b, "WAVE");
    for (const auto& c : chunks) {
        putTag(b, c.tag);
        put32(b, static_cast<std::uint32_t>(c.declaredSize >= 0 ? c.declaredSize
                                                                : static_cast<std::int64_t>(c.body.size())));
        b.insert(b.end(), c.body.begin(), c.body.end());
        if (c.body.size() % 2 == 1)
            b.push_back(0);
    }
    const auto size = static_cast<std::uint32_t>(riffSize >= 0 ? riffSize : static_cast<std::int64_t>(b.size() - 8));
    ombura::storeLe32(b, 4, size);
    return b;
}

struct Fmt {
    std::uint16_t tag = 1;
    std::uint16_t channels = 1;
    std::uint32_t rate = 48000;
    std::uint16_t bits = 16;
    std::int32_t blockAlign = -1; // -1: channels * bits / 8
    std::int64_t byteRate = -1; // -1: rate * blockAlign
    Bytes extra{}; // cbSize and what follows, if any
};

inline Bytes fmtBody(const Fmt& f)
{
    Bytes b;
    const auto align = static_cast<std::uint32_t>(f.blockAlign >= 0 ? f.blockAlign : f.channels * f.bits / 8);
    put16(b, f.tag);
    put16(b, f.channels);
    put32(b, f.rate);
    put32(b, static_cast<std::uint32_t>(f.byteRate >= 0 ? f.byteRate : static_cast<std::int64_t>(f.rate) * align));
    put16(b, align);
    put16(b, f.bits);
    b.insert(b.end(), f.extra.begin(), f.extra.end());
    return b;
}

inline Bytes wav(const Fmt& f, const Bytes& data)
{
    return riff({{"fmt ", fmtBody(f)}, {"data", data}});
}

inline Bytes pcm16(const std::vector<std::int16_t>& samples)
{
    Bytes b;
    for (auto s : samples)
        put16(b, static_cast<std::uint16_t>(s));
    return b;
}

// Mono 16-bit PCM at 48000 Hz holding `frames` frames of one level: the player's tests count
// frames, and at the output rate no conversion blurs them.
inline Bytes levelWav(int frames, std::int16_t level)
{
    return wav(Fmt{}, pcm16(std::vector<std::int16_t>(static_cast<std::size_t>(frames), level)));
}

void writeFile(const std::filesystem::path& path, const Bytes& bytes);

// A fresh folder whose path has blanks, an apostrophe and non-ASCII letters, removed afterwards.
class OddTempDir : public testing_support::TempDir {
public:
    OddTempDir() : TempDir("a b/\xC3\xBC'x dir") { }
};

} // namespace wavtest
