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
#include <string_view>

namespace sound {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kCompressed = 0x10;
constexpr std::uint16_t kRom = 0x8000;
constexpr std::uint16_t kInstrumentGenerator = 41;
constexpr std::uint16_t kSampleGenerator = 53;
constexpr std::uint64_t kPresetBytes = 38;
constexpr std::uint64_t kBagBytes = 4;
constexpr std::uint64_t kGeneratorBytes = 4;
constexpr std::uint64_t kInstrumentBytes = 22;
constexpr std::uint64_t kSampleBytes = 46;
// Every table is indexed by 16-bit numbers; the terminal record comes on top.
constexpr std::uint64_t kMaxRecords = 0x10000 + 1;
// The longest Ogg page: its header, 255 lacing values and 255 segments of 255 bytes.
constexpr std::uint64_t kMaxOggPage = 27 + 255 + 255 * 255;
// "OggS" inside a page's data is rare; a stream whose last page is not among the last few is
// taken as damaged rather than searched through.
constexpr int kOggPagesTried = 4;

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

std::optional<Chunk> find(const ReadAt& read, const std::optional<Chunk>& list, const char* name)
{
    for (std::uint64_t at = list ? list->body + 4 : 0; list && at < list->end();) {
        const std::optional<Chunk> c = chunkAt(read, at, list->end());
        if (!c)
            return std::nullopt;
        if (c->is(name))
            return c;
        at = c->end();
    }
    return std::nullopt;
}

// A header table's records, the terminal one included.
std::optional<Bytes> table(const ReadAt& read, const std::optional<Chunk>& list, const char* name,
                           std::uint64_t recordBytes)
{
    const std::optional<Chunk> c = find(read, list, name);
    if (!c || c->size == 0 || c->size % recordBytes != 0 || c->size / recordBytes > kMaxRecords)
        return std::nullopt;
    Bytes records(c->size);
    if (!read(c->body, records))
        return std::nullopt;
    return records;
}

std::size_t records(const Bytes& table, std::uint64_t recordBytes)
{
    return table.size() / recordBytes;
}

// Each zone's index of the first `generator` in it, or -1 where there is none or it names no
// record of `targets`. FluidSynth refuses a font whose zones do not follow one another.
std::optional<std::vector<int>> zoneLinks(const Bytes& bags, const Bytes& generators, std::uint16_t generator,
                                          std::size_t targets)
{
    const std::size_t zones = records(bags, kBagBytes) - 1;
    const std::size_t count = records(generators, kGeneratorBytes);
    std::vector<int> links(zones, -1);
    for (std::size_t z = 0; z < zones; ++z) {
        const std::size_t first = ombura::readLe16(bags, z * kBagBytes);
        const std::size_t end = ombura::readLe16(bags, (z + 1) * kBagBytes);
        if (end < first || end > count)
            return std::nullopt;
        for (std::size_t g = first; g < end; ++g) {
            if (ombura::readLe16(generators, g * kGeneratorBytes) == generator) {
                const std::size_t index = ombura::readLe16(generators, g * kGeneratorBytes + 2);
                if (index < targets)
                    links[z] = static_cast<int>(index);
                break;
            }
        }
    }
    return links;
}

// The zones of each header record but the terminal one, whose bag index is at `bagAt`.
std::optional<std::vector<std::pair<std::uint32_t, std::uint32_t>>>
zoneRanges(const Bytes& headers, std::uint64_t recordBytes, std::uint64_t bagAt, std::size_t zones)
{
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
    for (std::size_t r = 0; r + 1 < records(headers, recordBytes); ++r) {
        const std::uint32_t first = ombura::readLe16(headers, r * recordBytes + bagAt);
        const std::uint32_t end = ombura::readLe16(headers, (r + 1) * recordBytes + bagAt);
        if (end < first || end > zones)
            return std::nullopt;
        ranges.emplace_back(first, end);
    }
    return ranges;
}

std::uint64_t readLe64(std::span<const std::uint8_t> b, std::size_t at)
{
    return ombura::readLe32(b, at) | (std::uint64_t{ombura::readLe32(b, at + 4)} << 32);
}

// The frames an Ogg Vorbis stream decodes to, as libsndfile tells them (and FluidSynth allocates
// for them): the granule position of its last page, which ends where the stream ends.
std::optional<std::uint64_t> oggFrames(const ReadAt& read, std::uint64_t at, std::uint64_t size)
{
    Bytes tail(std::min(size, kMaxOggPage));
    if (tail.size() < 27 || !read(at + size - tail.size(), tail))
        return std::nullopt;
    const std::string_view text(reinterpret_cast<const char*>(tail.data()), tail.size());
    std::size_t page = text.size();
    for (int tried = 0; tried < kOggPagesTried && page > 0; ++tried) {
        page = text.rfind("OggS", page - 1);
        if (page == std::string_view::npos || tail.size() - page < 27)
            return std::nullopt;
        const std::size_t lacing = tail[page + 26];
        if (tail.size() - page - 27 < lacing)
            continue;
        std::size_t length = 27 + lacing;
        for (std::size_t i = 0; i < lacing; ++i)
            length += tail[page + 27 + i];
        if (page + length != tail.size())
            continue;
        const std::uint64_t granule = readLe64(tail, page + 6);
        // All ones: no packet ends on the page, and the length is not known.
        if (granule == std::numeric_limits<std::uint64_t>::max())
            return std::nullopt;
        return granule;
    }
    return std::nullopt;
}

std::uint64_t addCapped(std::uint64_t a, std::uint64_t b)
{
    return std::numeric_limits<std::uint64_t>::max() - a < b ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

// The file at `path` if it is a regular file, read with pread.
struct FontFile {
    explicit FontFile(const std::string& path) : fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK))
    {
        struct stat info{};
        if (fd.get() >= 0 && ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode))
            size = static_cast<std::uint64_t>(info.st_size);
    }
    ReadAt reader() const
    {
        return [this](std::uint64_t offset, std::span<std::uint8_t> into) {
            return offset <= size && size - offset >= into.size() &&
                   ::pread(fd.get(), into.data(), into.size(), static_cast<off_t>(offset)) ==
                       static_cast<ssize_t>(into.size());
        };
    }
    ombura::FileDescriptor fd;
    std::uint64_t size = 0;
};

} // namespace

std::optional<SoundFontDirectory> SoundFontDirectory::read(std::uint64_t fileSize, const ReadAt& read)
{
    const std::optional<Chunk> riff = chunkAt(read, 0, fileSize);
    std::array<std::uint8_t, 4> form{};
    if (!riff || !riff->is("RIFF") || riff->size < 4 || !read(riff->body, form) ||
        std::memcmp(form.data(), "sfbk", 4) != 0)
        return std::nullopt;
    const std::optional<Chunk> info = listAt(read, riff->body + 4, riff->end(), "INFO");
    const std::optional<Chunk> sdta = info ? listAt(read, info->end(), riff->end(), "sdta") : std::nullopt;
    const std::optional<Chunk> pdta = sdta ? listAt(read, sdta->end(), riff->end(), "pdta") : std::nullopt;
    const std::optional<Chunk> smpl = find(read, sdta, "smpl");
    const std::optional<Bytes> phdr = table(read, pdta, "phdr", kPresetBytes);
    const std::optional<Bytes> pbag = table(read, pdta, "pbag", kBagBytes);
    const std::optional<Bytes> pgen = table(read, pdta, "pgen", kGeneratorBytes);
    const std::optional<Bytes> inst = table(read, pdta, "inst", kInstrumentBytes);
    const std::optional<Bytes> ibag = table(read, pdta, "ibag", kBagBytes);
    const std::optional<Bytes> igen = table(read, pdta, "igen", kGeneratorBytes);
    const std::optional<Bytes> shdr = table(read, pdta, "shdr", kSampleBytes);
    if (!smpl || !phdr || !pbag || !pgen || !inst || !ibag || !igen || !shdr)
        return std::nullopt;

    SoundFontDirectory d;
    const auto presetZones = zoneRanges(*phdr, kPresetBytes, 24, records(*pbag, kBagBytes) - 1);
    const auto instrumentZones = zoneRanges(*inst, kInstrumentBytes, 20, records(*ibag, kBagBytes) - 1);
    const auto instruments = zoneLinks(*pbag, *pgen, kInstrumentGenerator, records(*inst, kInstrumentBytes) - 1);
    const auto samples = zoneLinks(*ibag, *igen, kSampleGenerator, records(*shdr, kSampleBytes) - 1);
    if (!presetZones || !instrumentZones || !instruments || !samples)
        return std::nullopt;
    for (std::size_t p = 0; p < presetZones->size(); ++p) {
        const PresetNumber number{ombura::readLe16(*phdr, p * kPresetBytes + 22),
                                  ombura::readLe16(*phdr, p * kPresetBytes + 20)};
        d.presets_.push_back({number, (*presetZones)[p].first, (*presetZones)[p].second});
    }
    for (const auto& [first, end] : *instrumentZones)
        d.instrumentZones_.push_back({first, end});
    d.presetZoneInstrument_ = *instruments;
    d.instrumentZoneSample_ = *samples;
    for (std::size_t s = 0; s + 1 < records(*shdr, kSampleBytes); ++s) {
        d.samples_.push_back({ombura::readLe32(*shdr, s * kSampleBytes + 20),
                              ombura::readLe32(*shdr, s * kSampleBytes + 24),
                              ombura::readLe16(*shdr, s * kSampleBytes + 44)});
    }
    d.sampleChunkAt_ = smpl->body;
    d.sampleChunkBytes_ = smpl->size;
    // 24-bit samples keep their low bytes in a chunk of their own, loaded beside the rest.
    d.bytesPerFrame_ = find(read, sdta, "sm24") ? 3 : 2;
    return d;
}

std::optional<SoundFontDirectory> SoundFontDirectory::read(const std::string& path)
{
    const FontFile file(path);
    return read(file.size, file.reader());
}

SoundFontDirectory::Loaded SoundFontDirectory::loaded(const Sample& s, const ReadAt& read) const
{
    // FluidSynth keeps the index of a sample's last frame, not of the one after it, and refuses a
    // sample whose last frame lies past the chunk or not after its first. The limits of a
    // compressed sample count bytes of the chunk, those of a plain one frames.
    const std::uint64_t last = s.end > 0 ? s.end - 1 : 0;
    if (s.type & kRom)
        return {};
    if (!(s.type & kCompressed)) {
        if (sampleChunkBytes_ % 2 != 0 || last > sampleChunkBytes_ / 2 || s.start >= last)
            return {};
        return {true, (last - s.start + 1) * bytesPerFrame_};
    }
    if (last >= sampleChunkBytes_ || s.start >= last)
        return {};
    const std::optional<std::uint64_t> frames = oggFrames(read, sampleChunkAt_ + s.start, last + 1 - s.start);
    if (!frames || *frames == 0)
        return {};
    return {true, *frames > std::numeric_limits<std::uint64_t>::max() / 2 ? *frames : *frames * 2};
}

std::optional<std::uint64_t> SoundFontDirectory::sampleBytes(std::span<const PresetNumber> presets,
                                                             const ReadAt& read) const
{
    // What is known of each instrument and sample once it has been looked at: an instrument
    // shared by presets, or a sample by instruments, is loaded once.
    enum class Seen : std::uint8_t { Not, Silent, Sounds };
    std::vector<Seen> instruments(instrumentZones_.size(), Seen::Not);
    std::vector<Seen> samples(samples_.size(), Seen::Not);
    std::uint64_t total = 0;
    const auto soundsAny = [&](std::size_t instrument) {
        if (instruments[instrument] == Seen::Not) {
            instruments[instrument] = Seen::Silent;
            for (std::size_t z = instrumentZones_[instrument].first; z < instrumentZones_[instrument].end; ++z) {
                const int sample = instrumentZoneSample_[z];
                if (sample < 0)
                    continue;
                Seen& seen = samples[static_cast<std::size_t>(sample)];
                if (seen == Seen::Not) {
                    const Loaded l = loaded(samples_[static_cast<std::size_t>(sample)], read);
                    seen = l.sounds ? Seen::Sounds : Seen::Silent;
                    total = addCapped(total, l.bytes);
                }
                if (seen == Seen::Sounds)
                    instruments[instrument] = Seen::Sounds;
            }
        }
        return instruments[instrument] == Seen::Sounds;
    };
    for (const PresetNumber& wanted : presets) {
        // FluidSynth chooses the first of presets under the same number.
        const auto preset =
            std::find_if(presets_.begin(), presets_.end(), [&](const Preset& p) { return p.number == wanted; });
        if (preset == presets_.end())
            return std::nullopt;
        bool sounds = false;
        for (std::size_t z = preset->firstZone; z < preset->endZone; ++z) {
            const int instrument = presetZoneInstrument_[z];
            if (instrument >= 0 && soundsAny(static_cast<std::size_t>(instrument)))
                sounds = true;
        }
        if (!sounds)
            return std::nullopt;
    }
    return total;
}

std::optional<std::uint64_t> SoundFontDirectory::sampleBytes(std::span<const PresetNumber> presets,
                                                             const std::string& path) const
{
    const FontFile file(path);
    return sampleBytes(presets, file.reader());
}

std::vector<std::uint8_t> SoundFontDirectory::presetsOnly() const
{
    struct Riff {
        Bytes b;
        Riff& u16(std::uint32_t v)
        {
            ombura::appendLe(b, v, 2);
            return *this;
        }
        Riff& u32(std::uint32_t v)
        {
            ombura::appendLe(b, v, 4);
            return *this;
        }
        Riff& text(std::string_view s, std::size_t width)
        {
            b.insert(b.end(), s.begin(), s.end());
            b.insert(b.end(), width - s.size(), 0);
            return *this;
        }
        Riff& chunk(std::string_view id, const Riff& body)
        {
            text(id, 4).u32(static_cast<std::uint32_t>(body.b.size())).b.insert(b.end(), body.b.begin(), body.b.end());
            return *this;
        }
    };
    Riff phdr, bag, mod, gen, inst, shdr, smpl, ifil, info, sdta, pdta, sfbk, file;
    for (const Preset& p : presets_)
        phdr.text("", 20)
            .u16(static_cast<std::uint32_t>(p.number.program))
            .u16(static_cast<std::uint32_t>(p.number.bank))
            .u16(0)
            .u32(0)
            .u32(0)
            .u32(0);
    phdr.text("EOP", 20).u16(0).u16(0).u16(0).u32(0).u32(0).u32(0);
    bag.u16(0).u16(0);
    mod.text("", 10);
    gen.u32(0);
    inst.text("EOI", 20).u16(0);
    shdr.text("EOS", 46);
    // FluidSynth reads the whole sample chunk of a font it does not load on demand; it must not
    // be empty.
    smpl.u32(0);
    info.text("INFO", 4).chunk("ifil", ifil.u16(2).u16(1));
    sdta.text("sdta", 4).chunk("smpl", smpl);
    pdta.text("pdta", 4).chunk("phdr", phdr).chunk("pbag", bag).chunk("pmod", mod).chunk("pgen", gen);
    pdta.chunk("inst", inst).chunk("ibag", bag).chunk("imod", mod).chunk("igen", gen).chunk("shdr", shdr);
    sfbk.text("sfbk", 4).chunk("LIST", info).chunk("LIST", sdta).chunk("LIST", pdta);
    return file.chunk("RIFF", sfbk).b;
}

} // namespace sound
