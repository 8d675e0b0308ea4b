// SPDX-License-Identifier: GPL-3.0-or-later

// Arbitrary bytes as a SoundFont: the sample-header check must walk the chunk table or refuse it
// without crashing, reading only inside the file, and what it accepts must claim no more than
// the file's sample chunk can hold, sample header by sample header.
#include "SoundFontCheck.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const sound::ReadAt read = [&](std::uint64_t offset, std::span<std::uint8_t> into) {
        if (offset > size || size - offset < into.size())
            return false;
        std::memcpy(into.data(), data + offset, into.size());
        return true;
    };
    const std::optional<std::uint64_t> claimed = sound::claimedSampleBytes(size, read);
    // At most 65536 headers, each inside a chunk inside the file, three bytes a frame at most.
    if (claimed && *claimed > std::uint64_t{0x10000} * size * 3 / 2)
        std::abort();
    return 0;
}
