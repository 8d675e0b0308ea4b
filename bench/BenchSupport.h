// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Small pieces the benchmark programs share: percentiles and the test sounds they write.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

inline double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(v.size()))) - 1;
    return v[std::min(i, v.size() - 1)];
}

// A 16-bit PCM WAVE file of `frames` frames; `sample(frame)` gives one value for every channel.
// Written a second at a time, so a three-minute song never sits in memory whole.
template <typename Sample>
void writeWav16(const std::string& path, std::uint32_t rate, std::uint16_t channels, std::uint32_t frames,
                Sample sample)
{
    std::ofstream out(path, std::ios::binary);
    const auto put = [&out](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.put(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    const std::uint32_t frameBytes = 2u * channels;
    out.write("RIFF", 4);
    put(36 + frames * frameBytes, 4);
    out.write("WAVEfmt ", 8);
    put(16, 4);
    put(1, 2);
    put(channels, 2);
    put(rate, 4);
    put(rate * frameBytes, 4);
    put(frameBytes, 2);
    put(16, 2);
    out.write("data", 4);
    put(frames * frameBytes, 4);
    std::vector<char> block;
    block.reserve(static_cast<std::size_t>(rate) * frameBytes);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const auto v = static_cast<std::uint16_t>(sample(i));
        for (std::uint16_t c = 0; c < channels; ++c) {
            block.push_back(static_cast<char>(v & 0xFF));
            block.push_back(static_cast<char>(v >> 8));
        }
        if (block.size() >= static_cast<std::size_t>(rate) * frameBytes || i + 1 == frames) {
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
            block.clear();
        }
    }
}

} // namespace bench
