// SPDX-License-Identifier: GPL-3.0-or-later

#include "SoundFontCheck.h"

#include "ByteOrder.h"
#include "FileDescriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <map>
#include <string_view>

namespace sound {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kCompressed = 0x10;
constexpr std::uint32_t kRom = 0x8000;
constexpr std::uint32_t kInstrumentGenerator = 41;
constexpr std::uint32_t kSampleGenerator = 53;
// Every table is indexed by 16-bit numbers; the terminal record comes on top.
constexpr std::size_t kMaxRecords = 0x10000 + 1;
// The longest Ogg page: its header, 255 lacing values and 255 segments of 255 bytes.
constexpr std::uint64_t kMaxOggPage = 27 + 255 + 255 * 255;
// "OggS" inside a page's data is rare; a stream whose last page is not among the last few is
// taken as damaged rather than searched through.
constexpr int kOggPagesTried = 4;

// The file at `path` if it is a regular file, read with pread: false when it does not hold
// that many bytes at `at`.
struct FontFile {
    explicit FontFile(const std::string& path) : fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK))
    {
        struct stat info{};
        if (fd.get() >= 0 && ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode))
            size = static_cast<std::uint64_t>(info.st_size);
    }
    bool operator()(std::uint64_t at, std::span<std::uint8_t> into) const
    {
        return at <= size && size - at >= into.size() &&
               ::pread(fd.get(), into.data(), into.size(), static_cast<off_t>(at)) == static_cast<ssize_t>(into.size());
    }
    ombura::FileDescriptor fd;
    std::uint64_t size = 0;
};

struct Chunk {
    std::uint64_t body = 0; // where its contents begin, after a RIFF or LIST chunk's form type
    std::uint64_t size = 0;
};
// Chunks by their names, a RIFF or LIST chunk by its form type; the first of a name counts.
using Chunks = std::map<std::string, Chunk, std::less<>>;

// The chunks one after another in `within`, up to the first that overruns it.
Chunks chunksIn(const FontFile& read, const Chunk& within)
{
    Chunks chunks;
    std::array<std::uint8_t, 12> header{};
    for (std::uint64_t at = within.body, end = at + within.size;
         end - at >= 8 && read(at, std::span(header).first(8));) {
        std::string id(header.begin(), header.begin() + 4);
        Chunk c{at + 8, ombura::readLe32(header, 4)};
        if (c.size > end - c.body)
            break;
        at = c.body + c.size;
        if ((id == "RIFF" || id == "LIST") && c.size >= 4 && read(c.body, std::span(header).last(4))) {
            id.assign(header.begin() + 8, header.end());
            c = {c.body + 4, c.size - 4};
        }
        chunks.emplace(id, c);
    }
    return chunks;
}

// The frames an Ogg Vorbis stream decodes to, as libsndfile tells them (and FluidSynth allocates
// for them): the granule position of its last page, which ends where the stream ends. 0 when
// that cannot be told.
std::uint64_t oggFrames(int fd, std::uint64_t at, std::uint64_t size)
{
    Bytes tail(std::min(size, kMaxOggPage));
    if (tail.size() < 27 || ::pread(fd, tail.data(), tail.size(), static_cast<off_t>(at + size - tail.size())) !=
                                static_cast<ssize_t>(tail.size()))
        return 0;
    const std::string_view text(reinterpret_cast<const char*>(tail.data()), tail.size());
    std::size_t page = text.size();
    for (int tried = 0; tried < kOggPagesTried && page > 0; ++tried) {
        page = text.rfind("OggS", page - 1);
        if (page == std::string_view::npos || tail.size() - page < 27)
            return 0;
        const std::size_t lacing = tail[page + 26];
        std::size_t length = 27 + lacing;
        for (std::size_t i = page + 27; i < page + 27 + lacing && i < tail.size(); ++i)
            length += tail[i];
        if (page + length != tail.size())
            continue;
        const std::uint64_t granule =
            ombura::readLe32(tail, page + 6) | (std::uint64_t{ombura::readLe32(tail, page + 10)} << 32);
        // All ones: no packet ends on the page, and the length is not known.
        return granule == std::numeric_limits<std::uint64_t>::max() ? 0 : granule;
    }
    return 0;
}

} // namespace

std::optional<SoundFontDirectory> SoundFontDirectory::read(const std::string& path)
{
    const FontFile file(path);
    const Chunks riff = chunksIn(file, {0, file.size});
    const Chunks lists = riff.contains("sfbk") ? chunksIn(file, riff.at("sfbk")) : Chunks{};
    if (!lists.contains("sdta") || !lists.contains("pdta"))
        return std::nullopt;
    const Chunks samples = chunksIn(file, lists.at("sdta"));
    const Chunks tables = chunksIn(file, lists.at("pdta"));
    const auto table = [&](const char* name, std::size_t record, Table& t) {
        const auto c = tables.find(name);
        if (c == tables.end() || c->second.size % record != 0 || c->second.size < record ||
            c->second.size / record > kMaxRecords)
            return false;
        t = {Bytes(c->second.size), record};
        return file(c->second.body, t.bytes);
    };
    SoundFontDirectory d;
    if (!samples.contains("smpl") || !table("phdr", 38, d.phdr_) || !table("pbag", 4, d.pbag_) ||
        !table("pgen", 4, d.pgen_) || !table("inst", 22, d.inst_) || !table("ibag", 4, d.ibag_) ||
        !table("igen", 4, d.igen_) || !table("shdr", 46, d.shdr_))
        return std::nullopt;
    d.path_ = path;
    d.sampleChunkAt_ = samples.at("smpl").body;
    d.sampleChunkBytes_ = samples.at("smpl").size;
    // 24-bit samples keep their low bytes in a chunk of their own, loaded beside the rest.
    d.bytesPerFrame_ = samples.contains("sm24") ? 3 : 2;
    return d;
}

std::uint32_t SoundFontDirectory::Table::field(std::size_t r, std::size_t at, int size) const
{
    return ombura::readLe(bytes, r * record + at, size);
}

std::vector<std::size_t> SoundFontDirectory::linked(bool ofPreset, std::size_t record) const
{
    const Table& headers = ofPreset ? phdr_ : inst_;
    const Table& bags = ofPreset ? pbag_ : ibag_;
    const Table& generators = ofPreset ? pgen_ : igen_;
    const std::size_t bagAt = ofPreset ? 24 : 20;
    const std::uint32_t kind = ofPreset ? kInstrumentGenerator : kSampleGenerator;
    const std::size_t targets = (ofPreset ? inst_ : shdr_).count() - 1; // the terminal record is none
    std::vector<std::size_t> found;
    // A record's zones run up to the next record's; a zone's generators up to the next zone's.
    // Each zone names its target by its first generator of that kind.
    const std::size_t endZone = std::min<std::size_t>(headers.field(record + 1, bagAt), bags.count() - 1);
    for (std::size_t z = headers.field(record, bagAt); z < endZone; ++z) {
        const std::size_t endGenerator = std::min<std::size_t>(bags.field(z + 1, 0), generators.count());
        for (std::size_t g = bags.field(z, 0); g < endGenerator; ++g) {
            if (generators.field(g, 0) != kind)
                continue;
            if (generators.field(g, 2) < targets)
                found.push_back(generators.field(g, 2));
            break;
        }
    }
    return found;
}

std::uint64_t SoundFontDirectory::loadedBytes(std::size_t sample, int fd) const
{
    const std::uint64_t start = shdr_.field(sample, 20, 4);
    const std::uint64_t end = shdr_.field(sample, 24, 4);
    const std::uint32_t type = shdr_.field(sample, 44);
    // FluidSynth keeps the index of a sample's last frame, not of the one after it, and refuses a
    // sample whose last frame lies past the chunk or not after its first. The limits of a
    // compressed sample count bytes of the chunk, those of a plain one frames.
    const std::uint64_t last = end > 0 ? end - 1 : 0;
    if ((type & kRom) || start >= last)
        return 0;
    if (!(type & kCompressed))
        return sampleChunkBytes_ % 2 == 0 && last <= sampleChunkBytes_ / 2 ? (last - start + 1) * bytesPerFrame_ : 0;
    if (last >= sampleChunkBytes_)
        return 0;
    // Two bytes a frame; a length past any sane font's still sums without overflow.
    return std::min(oggFrames(fd, sampleChunkAt_ + start, last + 1 - start), std::uint64_t{1} << 40) * 2;
}

std::optional<std::uint64_t> SoundFontDirectory::sampleBytes(std::span<const PresetNumber> presets) const
{
    const FontFile file(path_);
    // Each sample's bytes once it has been looked at: a sample shared by instruments loads once.
    std::vector<std::optional<std::uint64_t>> loaded(shdr_.count());
    std::uint64_t total = 0;
    for (const PresetNumber& wanted : presets) {
        // FluidSynth chooses the first of presets under the same number.
        std::size_t p = 0;
        while (p + 1 < phdr_.count() && (static_cast<int>(phdr_.field(p, 22)) != wanted.bank ||
                                         static_cast<int>(phdr_.field(p, 20)) != wanted.program))
            ++p;
        bool sounds = false;
        for (std::size_t instrument : p + 1 < phdr_.count() ? linked(true, p) : std::vector<std::size_t>{}) {
            for (std::size_t s : linked(false, instrument)) {
                if (!loaded[s]) {
                    loaded[s] = loadedBytes(s, file.fd.get());
                    total += *loaded[s];
                }
                sounds = sounds || *loaded[s] > 0;
            }
        }
        if (!sounds)
            return std::nullopt;
    }
    return total;
}

std::vector<std::uint8_t> SoundFontDirectory::presetsOnly() const
{
    const auto chunk = [](std::string_view id, std::initializer_list<Bytes> parts) {
        Bytes body;
        for (const Bytes& part : parts)
            body.insert(body.end(), part.begin(), part.end());
        Bytes c(id.begin(), id.end());
        ombura::appendLe32(c, static_cast<std::uint32_t>(body.size()));
        c.insert(c.end(), body.begin(), body.end());
        return c;
    };
    const auto text = [](std::string_view s, std::size_t width = 4) {
        Bytes b(s.begin(), s.end());
        b.resize(width);
        return b;
    };
    // The presets' own headers, every one with no zone: all begin at the one terminal bag.
    Bytes phdr = phdr_.bytes;
    for (std::size_t r = 0; r < phdr_.count(); ++r)
        phdr[r * phdr_.record + 24] = phdr[r * phdr_.record + 25] = 0;
    const Bytes bag(4, 0), mod(10, 0), gen(4, 0);
    // FluidSynth reads the whole sample chunk of a font it does not load on demand; it must not
    // be empty.
    const Bytes info = chunk("LIST", {text("INFO"), chunk("ifil", {{2, 0, 1, 0}})});
    const Bytes sdta = chunk("LIST", {text("sdta"), chunk("smpl", {Bytes(4, 0)})});
    const Bytes pdta = chunk("LIST", {text("pdta"), chunk("phdr", {phdr}), chunk("pbag", {bag}), chunk("pmod", {mod}),
                                      chunk("pgen", {gen}), chunk("inst", {text("EOI", 22)}), chunk("ibag", {bag}),
                                      chunk("imod", {mod}), chunk("igen", {gen}), chunk("shdr", {text("EOS", 46)})});
    return chunk("RIFF", {text("sfbk"), info, sdta, pdta});
}

} // namespace sound
