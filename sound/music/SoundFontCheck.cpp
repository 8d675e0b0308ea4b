// SPDX-License-Identifier: GPL-3.0-or-later

#include "SoundFontCheck.h"

#include "ByteOrder.h"
#include "FileDescriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <vector>

namespace sound {

namespace {

constexpr std::uint64_t kHeaderBytes = 46;
// The instruments name their samples by a 16-bit index; the terminal record comes on top.
constexpr std::uint64_t kMaxHeaders = 0x10000 + 1;
constexpr std::uint16_t kCompressed = 0x10;
constexpr std::uint16_t kRom = 0x8000;

struct Chunk {
    std::array<char, 4> id{};
    std::uint64_t body = 0; // where its contents begin
    std::uint64_t size = 0;
    std::uint64_t end() const { return body + size; }
    bool is(const char* name) const { return std::memcmp(id.data(), name, 4) == 0; }
};

// The chunk whose header is at `at`, if the header and the whole chunk lie before `end`.
std::optional<Chunk> chunkAt(const ReadAt& read, std::uint64_t at, std::uint64_t end)
{
    std::array<std::uint8_t, 8> header{};
    if (at > end || end - at < header.size() || !read(at, header))
        return std::nullopt;
    Chunk c;
    std::memcpy(c.id.data(), header.data(), 4);
    c.body = at + header.size();
    c.size = ombura::readLe32(header, 4);
    if (c.size > end - c.body)
        return std::nullopt;
    return c;
}

// The list chunk of `type` at `at`. FluidSynth reads a font's three lists one right after the
// other, in their order, and so does this.
std::optional<Chunk> listAt(const ReadAt& read, std::uint64_t at, std::uint64_t end, const char* type)
{
    const std::optional<Chunk> list = chunkAt(read, at, end);
    std::array<std::uint8_t, 4> form{};
    if (!list || !list->is("LIST") || list->size < form.size() || !read(list->body, form) ||
        std::memcmp(form.data(), type, 4) != 0)
        return std::nullopt;
    return list;
}

std::optional<Chunk> find(const ReadAt& read, const Chunk& list, const char* name)
{
    for (std::uint64_t at = list.body + 4; at < list.end();) {
        const std::optional<Chunk> c = chunkAt(read, at, list.end());
        if (!c)
            return std::nullopt;
        if (c->is(name))
            return c;
        at = c->end();
    }
    return std::nullopt;
}

} // namespace

std::optional<std::uint64_t> claimedSampleBytes(std::uint64_t fileSize, const ReadAt& read)
{
    const std::optional<Chunk> riff = chunkAt(read, 0, fileSize);
    std::array<std::uint8_t, 4> form{};
    if (!riff || !riff->is("RIFF") || riff->size < 4 || !read(riff->body, form) ||
        std::memcmp(form.data(), "sfbk", 4) != 0)
        return std::nullopt;
    const std::optional<Chunk> info = listAt(read, riff->body + 4, riff->end(), "INFO");
    const std::optional<Chunk> sdta = info ? listAt(read, info->end(), riff->end(), "sdta") : std::nullopt;
    const std::optional<Chunk> pdta = sdta ? listAt(read, sdta->end(), riff->end(), "pdta") : std::nullopt;
    const std::optional<Chunk> smpl = sdta ? find(read, *sdta, "smpl") : std::nullopt;
    const std::optional<Chunk> shdr = pdta ? find(read, *pdta, "shdr") : std::nullopt;
    if (!smpl || !shdr || shdr->size % kHeaderBytes != 0 || shdr->size == 0 || shdr->size / kHeaderBytes > kMaxHeaders)
        return std::nullopt;
    // 24-bit samples keep their low bytes in a chunk of their own, read beside the rest.
    const std::uint64_t bytesPerFrame = find(read, *sdta, "sm24") ? 3 : 2;

    std::vector<std::uint8_t> headers(shdr->size);
    if (!read(shdr->body, headers))
        return std::nullopt;
    std::uint64_t total = 0;
    // The last record only ends the table.
    for (std::size_t at = 0; at + kHeaderBytes < headers.size(); at += kHeaderBytes) {
        const std::uint64_t start = ombura::readLe32(headers, at + 20);
        const std::uint64_t end = ombura::readLe32(headers, at + 24);
        const std::uint16_t type = ombura::readLe16(headers, at + 44);
        if (type & kRom)
            continue; // FluidSynth plays no sample from a synthesiser's memory
        // A compressed sample's limits count bytes of the chunk, an uncompressed one's frames.
        const std::uint64_t limit = (type & kCompressed) ? smpl->size : smpl->size / 2;
        if (end > limit)
            return std::nullopt;
        if (end > start)
            total += (end - start) * ((type & kCompressed) ? 1 : bytesPerFrame);
    }
    return total;
}

bool sampleMemoryBounded(const std::string& path)
{
    const ombura::FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info{};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    const ReadAt read = [fd = file.get()](std::uint64_t offset, std::span<std::uint8_t> into) {
        return ::pread(fd, into.data(), into.size(), static_cast<off_t>(offset)) == static_cast<ssize_t>(into.size());
    };
    const std::optional<std::uint64_t> claimed = claimedSampleBytes(static_cast<std::uint64_t>(info.st_size), read);
    return claimed && *claimed <= kMaxSampleBytes;
}

} // namespace sound
