// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Writing the files the tests and benchmarks feed the program: big-endian integers of standard
// MIDI files, their variable-length numbers, and patching sizes into RIFF and MIDI headers. The
// program itself only reads (ByteOrder.h).

#include "ByteOrder.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace ombura {

inline void appendBe(std::vector<std::uint8_t>& out, std::uint32_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline void appendLe16(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    appendLe(out, v, 2);
}

inline void appendBe16(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    appendBe(out, v, 2);
}

inline void appendBe32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    appendBe(out, v, 4);
}

// Overwrites the 4 bytes at `at`, which must be there.
inline void storeLe32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v)
{
    for (std::size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void storeBe32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v)
{
    for (std::size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * (3 - i)));
}

// Appends `v`, which must fit in 28 bits as the format allows.
inline void appendVarLen(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    std::uint8_t reversed[5];
    int n = 0;
    reversed[n++] = static_cast<std::uint8_t>(v & 0x7F);
    while (v >>= 7)
        reversed[n++] = static_cast<std::uint8_t>(0x80 | (v & 0x7F));
    while (n > 0)
        out.push_back(reversed[--n]);
}

} // namespace ombura
