// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The variable-length numbers of standard MIDI files (delta times, lengths): seven bits a byte,
// most significant first, every byte but the last with its top bit set.

#include <cstdint>
#include <vector>

namespace ombura {

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
