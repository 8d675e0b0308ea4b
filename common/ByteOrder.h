// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Reading and writing little- and big-endian integers in byte buffers: RIFF files (WAVE, RMID)
// are little-endian, standard MIDI files big-endian.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace ombura {

// The `bytes`-byte (1 to 4) unsigned integer at `at`. The caller has checked that it is there.
inline std::uint32_t readLe(std::span<const std::uint8_t> b, std::size_t at, int bytes)
{
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | b[at + static_cast<std::size_t>(i)];
    return v;
}

inline std::uint32_t readBe(std::span<const std::uint8_t> b, std::size_t at, int bytes)
{
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | b[at + static_cast<std::size_t>(i)];
    return v;
}

inline std::uint16_t readLe16(std::span<const std::uint8_t> b, std::size_t at)
{
    return static_cast<std::uint16_t>(readLe(b, at, 2));
}
inline std::uint32_t readLe32(std::span<const std::uint8_t> b, std::size_t at)
{
    return readLe(b, at, 4);
}
inline std::uint16_t readBe16(std::span<const std::uint8_t> b, std::size_t at)
{
    return static_cast<std::uint16_t>(readBe(b, at, 2));
}
inline std::uint32_t readBe32(std::span<const std::uint8_t> b, std::size_t at)
{
    return readBe(b, at, 4);
}

// Appends the low `bytes` bytes (1 to 4) of `v`.
inline void appendLe(std::vector<std::uint8_t>& out, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline void appendLe32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    appendLe(out, v, 4);
}

} // namespace ombura
