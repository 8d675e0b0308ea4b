// SPDX-License-Identifier: GPL-3.0-or-later

// Arbitrary text as a run of commands, one a line, sent to a music channel without a
// SoundFont. A tiny tune waits at a fixed path with blanks so the seeds can open it.
#include "MusicChannel.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

namespace {

const std::uint8_t kTune[] = {
    'M', 'T', 'h', 'd', 0,    0,    0,  6,   0,    0,    0,    1,  0x01, 0xE0, 'M',  'T',  'r',  'k',
    0,   0,   0,   13,  0x00, 0x90, 60, 100, 0x83, 0x60, 0x80, 60, 0,    0x00, 0xFF, 0x2F, 0x00,
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::filesystem::path dir = "/tmp/ombura fuzz/a b type waveaudio alias x";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "bgm.dat", std::ios::binary).write(reinterpret_cast<const char*>(kTune), sizeof kTune);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sound::MusicChannel channel(std::nullopt);
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<float> out(2 * 512);
    char reply[32];
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);

        // The first byte of a line picks the reply capacity, so small buffers get their turn.
        const unsigned capacity = line.empty() ? 15u : static_cast<unsigned char>(line[0]) % 20u;
        std::fill(std::begin(reply), std::end(reply), '#');
        channel.send(line, reply, capacity);
        if (capacity > 0 && reply[0] != '#' && std::string_view(reply, capacity).find('\0') == std::string_view::npos)
            __builtin_trap();
        if (capacity < sizeof reply && reply[capacity] != '#')
            __builtin_trap();
        channel.render(out.data(), 512);
    }
    return 0;
}
