#include "SoundFontView.h"

#include "ByteOrder.h"
#include "FileDescriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string_view>
#include <utility>

namespace sound {

namespace {

using ombura::readLe16;
using ombura::readLe32;

constexpr std::array<std::string_view, 9> kChunkIds{"phdr", "pbag", "pmod", "pgen", "inst",
                                                    "ibag", "imod", "igen", "shdr"};
constexpr std::array<std::size_t, 9> kRecordSizes{38, 4, 10, 4, 22, 4, 10, 4, 46};

// Where a header record keeps the index of its first zone: after the 20-byte name, and for a
// preset after its program and bank too.
constexpr std::size_t kPresetProgram = 20;
constexpr std::size_t kPresetBank = 22;
constexpr std::size_t kPresetBagIndex = 24;
constexpr std::size_t kInstrumentBagIndex = 20;
constexpr std::size_t bagIndexField(std::size_t recordSize)
{
    return recordSize == 38 ? kPresetBagIndex : kInstrumentBagIndex;
}

// The generator a preset zone names its instrument with.
constexpr std::uint16_t kInstrumentGenerator = 41;

// Large enough for any real font's directory (a GM font's is 0.2 MB), small enough that a
// broken size cannot take the memory.
constexpr std::uint32_t kMaxDirectoryBytes = 64u << 20;

void putLe16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t v)
{
    out[at] = static_cast<std::uint8_t>(v & 0xFF);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void appendLe32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF));
}

void appendChunk(std::vector<std::uint8_t>& out, std::string_view id, const std::vector<std::uint8_t>& body)
{
    out.insert(out.end(), id.begin(), id.end());
    appendLe32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
}

bool idIs(std::span<const std::uint8_t> bytes, std::size_t at, std::string_view id)
{
    return bytes.size() >= at + 4 && std::memcmp(bytes.data() + at, id.data(), 4) == 0;
}

// Reads `n` bytes at `at` of whatever holds the file; false when they are not all there.
using ReadAt = std::function<bool(std::uint64_t at, std::uint8_t* out, std::size_t n)>;

struct Layout {
    std::uint64_t pdtaList = 0;
    std::vector<std::uint8_t> pdta; // the list's contents after its form type
};

// The outline FluidSynth's reader insists on: a RIFF "sfbk" form as long as the file, holding
// the "INFO", "sdta" and "pdta" lists one after the other.
std::optional<Layout> locate(const ReadAt& readAt, std::uint64_t fileSize)
{
    std::array<std::uint8_t, 12> head{};
    if (!readAt(0, head.data(), head.size()) || !idIs(head, 0, "RIFF") || !idIs(head, 8, "sfbk") ||
        std::uint64_t{readLe32(head, 4)} + 8 != fileSize)
        return std::nullopt;
    std::uint64_t at = 12;
    for (std::string_view form : {"INFO", "sdta", "pdta"}) {
        if (!readAt(at, head.data(), head.size()) || !idIs(head, 0, "LIST") || !idIs(head, 8, form))
            return std::nullopt;
        const std::uint32_t size = readLe32(head, 4);
        if (size < 4 || at + 8 + size > fileSize)
            return std::nullopt;
        if (form == "pdta") {
            if (size - 4 > kMaxDirectoryBytes)
                return std::nullopt;
            Layout layout;
            layout.pdtaList = at;
            layout.pdta.resize(size - 4);
            if (!readAt(at + 12, layout.pdta.data(), layout.pdta.size()))
                return std::nullopt;
            return layout;
        }
        at += 8 + std::uint64_t{size};
    }
    return std::nullopt;
}

bool preadAll(int fd, std::uint64_t at, std::uint8_t* out, std::size_t n)
{
    while (n > 0) {
        const ssize_t got = ::pread(fd, out, n, static_cast<off_t>(at));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        out += got;
        n -= static_cast<std::size_t>(got);
        at += static_cast<std::uint64_t>(got);
    }
    return true;
}

} // namespace

std::uint16_t PresetDirectory::field16(Chunk c, std::size_t record, std::size_t at) const
{
    return readLe16(bytes_, table(c).offset + record * kRecordSizes[c] + at);
}

// A header table's zones, and those zones' generators and modulators, stay inside their tables
// and rise from record to record.
bool PresetDirectory::levelIsSound(Chunk header) const
{
    const Chunk bag = static_cast<Chunk>(header + 1);
    const Chunk mod = static_cast<Chunk>(header + 2);
    const Chunk gen = static_cast<Chunk>(header + 3);
    const std::size_t bagField = bagIndexField(kRecordSizes[header]);
    if (table(header).count == 0 || table(bag).count == 0)
        return false;
    for (std::size_t i = 0; i < table(header).count; ++i) {
        const std::uint16_t first = field16(header, i, bagField);
        if ((i > 0 && first < field16(header, i - 1, bagField)) || first >= table(bag).count)
            return false;
    }
    for (std::size_t i = 0; i < table(bag).count; ++i) {
        const std::uint16_t gens = field16(bag, i, 0);
        const std::uint16_t mods = field16(bag, i, 2);
        if (gens > table(gen).count || mods > table(mod).count)
            return false;
        if (i > 0 && (gens < field16(bag, i - 1, 0) || mods < field16(bag, i - 1, 2)))
            return false;
    }
    return true;
}

std::optional<PresetDirectory> PresetDirectory::parse(std::vector<std::uint8_t> bytes)
{
    PresetDirectory d;
    d.bytes_ = std::move(bytes);
    const std::span<const std::uint8_t> pdta(d.bytes_);
    std::size_t at = 0;
    for (std::size_t c = 0; c < kChunks; ++c) {
        if (pdta.size() - at < 8 || !idIs(pdta, at, kChunkIds[c]))
            return std::nullopt;
        const std::uint32_t size = readLe32(pdta, at + 4);
        if (size % kRecordSizes[c] != 0 || size > pdta.size() - at - 8)
            return std::nullopt;
        d.tables_[c] = {at + 8, size / kRecordSizes[c]};
        at += 8 + std::size_t{size};
    }
    if (!d.levelIsSound(kPhdr) || !d.levelIsSound(kInst))
        return std::nullopt;
    // Every instrument a preset zone names is there (the terminal record is not one).
    for (std::size_t g = 0; g < d.table(kPgen).count; ++g) {
        if (d.field16(kPgen, g, 0) == kInstrumentGenerator && d.field16(kPgen, g, 2) >= d.instrumentCount())
            return std::nullopt;
    }
    return d;
}

bool PresetDirectory::has(MidiPreset preset) const
{
    for (std::size_t i = 0; i < presetCount(); ++i) {
        if (field16(kPhdr, i, kPresetBank) == preset.bank && field16(kPhdr, i, kPresetProgram) == preset.program)
            return true;
    }
    return false;
}

std::vector<std::uint8_t> PresetDirectory::subset(std::span<const MidiPreset> keep) const
{
    std::array<std::vector<std::uint8_t>, kChunks> out;
    const auto record = [this](Chunk c, std::size_t i) {
        const auto* p = bytes_.data() + table(c).offset + i * kRecordSizes[c];
        return std::span<const std::uint8_t>(p, kRecordSizes[c]);
    };
    const auto append = [&out](Chunk c, std::span<const std::uint8_t> r) {
        out[c].insert(out[c].end(), r.begin(), r.end());
    };

    // Copies the kept headers of one level with their zones, generators and modulators,
    // renumbering the zone indices; `onGenerator` sees (and may rewrite) each copied generator.
    const auto copyLevel = [&](Chunk header, const std::vector<bool>& kept,
                               const std::function<void(std::vector<std::uint8_t>&, std::size_t)>& onGenerator) {
        const Chunk bag = static_cast<Chunk>(header + 1);
        const Chunk mod = static_cast<Chunk>(header + 2);
        const Chunk gen = static_cast<Chunk>(header + 3);
        const std::size_t bagField = bagIndexField(kRecordSizes[header]);
        std::size_t bags = 0, gens = 0, mods = 0;
        const auto endBag = [&] {
            std::vector<std::uint8_t> b(4);
            putLe16(b, 0, static_cast<std::uint16_t>(gens));
            putLe16(b, 2, static_cast<std::uint16_t>(mods));
            append(bag, b);
        };
        for (std::size_t i = 0; i + 1 < table(header).count; ++i) {
            if (!kept[i])
                continue;
            append(header, record(header, i));
            putLe16(out[header], out[header].size() - kRecordSizes[header] + bagField,
                    static_cast<std::uint16_t>(bags));
            for (std::size_t z = field16(header, i, bagField); z < field16(header, i + 1, bagField); ++z, ++bags) {
                endBag();
                for (std::size_t g = field16(bag, z, 0); g < field16(bag, z + 1, 0); ++g, ++gens) {
                    append(gen, record(gen, g));
                    onGenerator(out[gen], out[gen].size() - kRecordSizes[gen]);
                }
                for (std::size_t m = field16(bag, z, 2); m < field16(bag, z + 1, 2); ++m, ++mods)
                    append(mod, record(mod, m));
            }
        }
        // The terminal records: the header's keeps its name ("EOP", "EOI") and points past the
        // last zone; the bag's past the last generator and modulator.
        append(header, record(header, table(header).count - 1));
        putLe16(out[header], out[header].size() - kRecordSizes[header] + bagField, static_cast<std::uint16_t>(bags));
        endBag();
        out[gen].resize(out[gen].size() + kRecordSizes[gen]);
        out[mod].resize(out[mod].size() + kRecordSizes[mod]);
    };

    std::vector<bool> presets(presetCount(), false);
    for (std::size_t i = 0; i < presetCount(); ++i) {
        const MidiPreset p{field16(kPhdr, i, kPresetBank),
                           static_cast<std::uint8_t>(field16(kPhdr, i, kPresetProgram))};
        presets[i] = field16(kPhdr, i, kPresetProgram) < 128 && std::find(keep.begin(), keep.end(), p) != keep.end();
    }
    // The instruments those presets use, and their numbers once the others are gone.
    std::vector<bool> instruments(instrumentCount(), false);
    for (std::size_t i = 0; i < presetCount(); ++i) {
        if (!presets[i])
            continue;
        for (std::size_t z = field16(kPhdr, i, kPresetBagIndex); z < field16(kPhdr, i + 1, kPresetBagIndex); ++z) {
            for (std::size_t g = field16(kPbag, z, 0); g < field16(kPbag, z + 1, 0); ++g) {
                if (field16(kPgen, g, 0) == kInstrumentGenerator)
                    instruments[field16(kPgen, g, 2)] = true;
            }
        }
    }
    std::vector<std::uint16_t> renumbered(instrumentCount(), 0);
    std::uint16_t next = 0;
    for (std::size_t i = 0; i < instrumentCount(); ++i) {
        if (instruments[i])
            renumbered[i] = next++;
    }

    copyLevel(kPhdr, presets, [&renumbered](std::vector<std::uint8_t>& gens, std::size_t at) {
        if (readLe16(gens, at) == kInstrumentGenerator)
            putLe16(gens, at + 2, renumbered[readLe16(gens, at + 2)]);
    });
    copyLevel(kInst, instruments, [](std::vector<std::uint8_t>&, std::size_t) { });
    const auto samples =
        std::span<const std::uint8_t>(bytes_).subspan(table(kShdr).offset, table(kShdr).count * kRecordSizes[kShdr]);
    out[kShdr].assign(samples.begin(), samples.end());

    std::vector<std::uint8_t> body{'p', 'd', 't', 'a'};
    for (std::size_t c = 0; c < kChunks; ++c)
        appendChunk(body, kChunkIds[c], out[c]);
    std::vector<std::uint8_t> list;
    appendChunk(list, "LIST", body);
    return list;
}

SoundFontView::SoundFontView(std::string path, std::uint64_t prefix, std::vector<std::uint8_t> directory)
    : path_(std::move(path)), prefix_(prefix), directory_(std::move(directory))
{ }

bool SoundFontView::read(int fd, std::uint64_t at, std::uint8_t* out, std::size_t n) const
{
    if (at > size() || n > size() - at)
        return false;
    const std::uint64_t end = at + n;
    if (at < prefix_) {
        const std::size_t fromFile = static_cast<std::size_t>(std::min(end, prefix_) - at);
        if (!preadAll(fd, at, out, fromFile))
            return false;
        // The RIFF form's size: the view's, not the file's.
        std::array<std::uint8_t, 4> riff{};
        const auto riffSize = static_cast<std::uint32_t>(size() - 8);
        for (std::size_t i = 0; i < 4; ++i)
            riff[i] = static_cast<std::uint8_t>((riffSize >> (8 * i)) & 0xFF);
        for (std::uint64_t i = std::max<std::uint64_t>(at, 4); i < std::min<std::uint64_t>(end, 8); ++i)
            out[i - at] = riff[i - 4];
        out += fromFile;
        at += fromFile;
    }
    if (at < end)
        std::memcpy(out, directory_.data() + (at - prefix_), static_cast<std::size_t>(end - at));
    return true;
}

SoundFontFile::SoundFontFile(std::string path, std::uint64_t pdtaList, PresetDirectory directory)
    : path_(std::move(path)), pdtaList_(pdtaList), directory_(std::move(directory))
{ }

std::optional<SoundFontFile> SoundFontFile::make(std::string path, std::uint64_t pdtaList,
                                                 std::vector<std::uint8_t> pdta)
{
    std::optional<PresetDirectory> directory = PresetDirectory::parse(std::move(pdta));
    if (!directory)
        return std::nullopt;
    return SoundFontFile(std::move(path), pdtaList, std::move(*directory));
}

std::optional<SoundFontFile> SoundFontFile::open(const std::string& path)
{
    const ombura::FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat info{};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    std::optional<Layout> layout =
        locate([&fd](std::uint64_t at, std::uint8_t* out, std::size_t n) { return preadAll(fd.get(), at, out, n); },
               static_cast<std::uint64_t>(info.st_size));
    if (!layout)
        return std::nullopt;
    return make(path, layout->pdtaList, std::move(layout->pdta));
}

std::optional<SoundFontFile> SoundFontFile::fromBytes(std::string path, std::span<const std::uint8_t> file)
{
    std::optional<Layout> layout = locate(
        [file](std::uint64_t at, std::uint8_t* out, std::size_t n) {
            if (at > file.size() || n > file.size() - at)
                return false;
            std::memcpy(out, file.data() + at, n);
            return true;
        },
        file.size());
    if (!layout)
        return std::nullopt;
    return make(std::move(path), layout->pdtaList, std::move(layout->pdta));
}

std::shared_ptr<const SoundFontView> SoundFontFile::view(std::span<const MidiPreset> keep) const
{
    return std::make_shared<const SoundFontView>(path_, pdtaList_, directory_.subset(keep));
}

} // namespace sound
