// SPDX-License-Identifier: GPL-3.0-or-later

#include "SoundFileLibrary.h"

#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace sound::sndfile {

namespace {

// A read-only file in memory, as libsndfile's virtual I/O sees it.
struct Memory {
    std::span<const std::uint8_t> bytes;
    sf_count_t at = 0;
};

sf_count_t memoryLength(void* user)
{
    return static_cast<sf_count_t>(static_cast<Memory*>(user)->bytes.size());
}

sf_count_t memorySeek(sf_count_t offset, int whence, void* user)
{
    auto* m = static_cast<Memory*>(user);
    const auto size = static_cast<sf_count_t>(m->bytes.size());
    sf_count_t base = 0;
    if (whence == SEEK_CUR)
        base = m->at;
    else if (whence == SEEK_END)
        base = size;
    else if (whence != SEEK_SET)
        return -1;
    // Offsets come from the file's own fields: keep the arithmetic from overflowing. Anything
    // further than the whole image is as good as just past its end.
    if (offset < -size - 1)
        return -1;
    const sf_count_t to = base + std::min(offset, size + 1);
    if (to < 0)
        return -1;
    m->at = std::min(to, size);
    return m->at;
}

sf_count_t memoryRead(void* ptr, sf_count_t count, void* user)
{
    auto* m = static_cast<Memory*>(user);
    const auto size = static_cast<sf_count_t>(m->bytes.size());
    if (count <= 0 || m->at >= size)
        return 0;
    const sf_count_t n = std::min(count, size - m->at);
    std::memcpy(ptr, m->bytes.data() + m->at, static_cast<std::size_t>(n));
    m->at += n;
    return n;
}

sf_count_t memoryWrite(const void*, sf_count_t, void*)
{
    return 0;
}

sf_count_t memoryTell(void* user)
{
    return static_cast<Memory*>(user)->at;
}

constexpr sf_count_t kBlockFrames = 4096;

// libsndfile reads a file cut short up to where it ends, and announces only the frames that are
// there. The container's own length fields, as it read them, still say what the file should
// hold: a chunk (the RIFF or FORM around everything included) that claims more than the whole
// file was cut short, or lies. One byte over is a missing pad byte, which many writers leave
// out; the largest length a field can hold stands for "not known" (RF64 and streamed files).
bool chunkClaimsMoreThanTheFile(SNDFILE* file, std::size_t size)
{
    constexpr std::uint64_t chunkHeader = 8;
    for (SF_CHUNK_ITERATOR* it = sf_get_chunk_iterator(file, nullptr); it != nullptr; it = sf_next_chunk_iterator(it)) {
        SF_CHUNK_INFO chunk{};
        if (sf_get_chunk_size(it, &chunk) != SF_ERR_NO_ERROR || chunk.datalen == 0xFFFFFFFFu)
            continue;
        if (chunkHeader + chunk.datalen > std::uint64_t{size} + 1)
            return true;
    }
    return false;
}

bool lengthIsEstimated(int format)
{
    const int subtype = format & SF_FORMAT_SUBMASK;
    return subtype == SF_FORMAT_MPEG_LAYER_I || subtype == SF_FORMAT_MPEG_LAYER_II ||
           subtype == SF_FORMAT_MPEG_LAYER_III;
}

} // namespace

std::optional<Format> read(std::span<const std::uint8_t> image, const std::function<bool(const Format&)>& accept,
                           const std::function<bool(const float*, std::size_t)>& block)
{
    if (image.empty())
        return std::nullopt;
    Memory memory{image, 0};
    SF_VIRTUAL_IO io{memoryLength, memorySeek, memoryRead, memoryWrite, memoryTell};
    SF_INFO info{};
    SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &memory);
    if (file == nullptr)
        return std::nullopt;
    std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> owned(file, sf_close);

    Format format{info.channels, info.samplerate,
                  info.frames > 0 && info.frames < SF_COUNT_MAX && !lengthIsEstimated(info.format) ? info.frames : -1};
    format.cutShort = chunkClaimsMoreThanTheFile(file, image.size());
    if (info.channels <= 0 || info.samplerate <= 0 || !accept(format))
        return std::nullopt;
    // Whole numbers come out scaled to [-1, 1); float files come out as they are, and the
    // caller keeps what is past full scale (or not a number at all) out of the mix.
    sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);

    std::vector<float> buffer(static_cast<std::size_t>(kBlockFrames) * static_cast<std::size_t>(info.channels));
    std::int64_t frames = 0;
    for (;;) {
        const sf_count_t got = sf_readf_float(file, buffer.data(), kBlockFrames);
        if (got <= 0)
            break;
        frames += got;
        if (!block(buffer.data(), static_cast<std::size_t>(got)))
            return format;
    }
    // A compressed stream cut short (FLAC, Ogg) ends before the frames its header announced, and
    // its decoder may say it lost its way.
    format.cutShort = sf_error(file) != SF_ERR_NO_ERROR || (format.frames > 0 && frames < format.frames);
    return format;
}

} // namespace sound::sndfile
