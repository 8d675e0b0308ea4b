// SPDX-License-Identifier: GPL-3.0-or-later

#include "BadFiles.h"

#include "ByteOrder.h"
#include "ByteWriter.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace hardening {

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes readAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeAll(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

// These throw, as the rest of this file does, when a file is shorter than expected.
void putLe32(Bytes& b, std::size_t at, std::uint32_t v)
{
    static_cast<void>(b.at(at + 3));
    ombura::storeLe32(b, at, v);
}

void putBe32(Bytes& b, std::size_t at, std::uint32_t v)
{
    static_cast<void>(b.at(at + 3));
    ombura::storeBe32(b, at, v);
}

std::uint32_t le32(const Bytes& b, std::size_t at)
{
    static_cast<void>(b.at(at + 3));
    return ombura::readLe32(b, at);
}

// Where the "data" chunk's header starts in a well-formed WAVE file.
std::size_t dataChunkAt(const Bytes& wav)
{
    for (std::size_t at = 12; at + 8 <= wav.size();) {
        if (std::equal(wav.begin() + static_cast<std::ptrdiff_t>(at), wav.begin() + static_cast<std::ptrdiff_t>(at + 4),
                       "data"))
            return at;
        const std::uint32_t size = le32(wav, at + 4);
        at += 8 + size + (size & 1u);
    }
    throw std::runtime_error("the good WAVE file has no data chunk");
}

// The MIDI files we make have one track, whose header follows the 14-byte file header.
constexpr std::size_t kFirstTrackAt = 14;
constexpr std::uint64_t kVeryLargeBytes = 200ull << 20;

void makeVeryLarge(const fs::path& target, FileType type)
{
    Bytes head = readAll(target);
    if (type == FileType::Wav) {
        const std::size_t data = dataChunkAt(head);
        head.resize(data + 8);
        putLe32(head, 4, static_cast<std::uint32_t>(kVeryLargeBytes - 8));
        putLe32(head, data + 4, static_cast<std::uint32_t>(kVeryLargeBytes - head.size()));
    } else {
        // The real track's events, then a sea of zeros the track's length claims as its own.
        putBe32(head, kFirstTrackAt + 4, static_cast<std::uint32_t>(kVeryLargeBytes - kFirstTrackAt - 8));
    }
    writeAll(target, head);
    if (::truncate(target.c_str(), static_cast<off_t>(kVeryLargeBytes)) != 0)
        throw std::runtime_error("cannot grow " + target.string());
}

void makeLying(const fs::path& target, FileType type)
{
    Bytes bytes = readAll(target);
    if (type == FileType::Wav)
        putLe32(bytes, dataChunkAt(bytes) + 4, 0x7FFFFFF0u);
    else
        putBe32(bytes, kFirstTrackAt + 4, 0xFFFFFFF0u);
    writeAll(target, bytes);
}

Bytes randomBytes(std::size_t count)
{
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    Bytes out(count);
    for (auto& b : out) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        b = static_cast<std::uint8_t>(state >> 32);
    }
    return out;
}

} // namespace

std::string_view name(BadKind kind)
{
    switch (kind) {
    case BadKind::Missing:
        return "Missing";
    case BadKind::Empty:
        return "Empty";
    case BadKind::Directory:
        return "Directory";
    case BadKind::Unreadable:
        return "Unreadable";
    case BadKind::TruncatedHeader:
        return "TruncatedHeader";
    case BadKind::TruncatedBody:
        return "TruncatedBody";
    case BadKind::LyingHeader:
        return "LyingHeader";
    case BadKind::OtherKind:
        return "OtherKind";
    case BadKind::RandomBytes:
        return "RandomBytes";
    case BadKind::VeryLarge:
        return "VeryLarge";
    case BadKind::Fifo:
        return "Fifo";
    case BadKind::LinkLoop:
        return "LinkLoop";
    }
    return "?";
}

void spoil(const fs::path& target, FileType type, BadKind kind, const fs::path& otherKind)
{
    switch (kind) {
    case BadKind::Missing:
        fs::remove(target);
        return;
    case BadKind::Empty:
        writeAll(target, {});
        return;
    case BadKind::Directory:
        fs::remove(target);
        fs::create_directory(target);
        writeAll(target / "inside.dat", randomBytes(64));
        return;
    case BadKind::Unreadable:
        fs::permissions(target, fs::perms::none);
        return;
    case BadKind::TruncatedHeader: {
        Bytes bytes = readAll(target);
        bytes.resize(20);
        writeAll(target, bytes);
        return;
    }
    case BadKind::TruncatedBody: {
        Bytes bytes = readAll(target);
        bytes.resize(bytes.size() / 2);
        writeAll(target, bytes);
        return;
    }
    case BadKind::LyingHeader:
        makeLying(target, type);
        return;
    case BadKind::OtherKind:
        fs::copy_file(otherKind, target, fs::copy_options::overwrite_existing);
        return;
    case BadKind::RandomBytes:
        writeAll(target, randomBytes(64 * 1024));
        return;
    case BadKind::VeryLarge:
        makeVeryLarge(target, type);
        return;
    case BadKind::Fifo:
        fs::remove(target);
        if (::mkfifo(target.c_str(), 0644) != 0)
            throw std::runtime_error("cannot make a FIFO at " + target.string());
        return;
    case BadKind::LinkLoop:
        fs::remove(target);
        fs::create_symlink(target.filename(), target);
        return;
    }
}

} // namespace hardening
