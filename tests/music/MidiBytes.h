#pragma once

// Small MIDI files written byte by byte for the tests, and a scratch folder whose name has
// blanks, quotes, non-ASCII letters and words the command parser knows.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

namespace music_test {

using Bytes = std::vector<std::uint8_t>;

class Track {
public:
    Track& event(std::uint32_t delta, std::initializer_list<std::uint8_t> bytes)
    {
        number(delta);
        data.insert(data.end(), bytes);
        return *this;
    }
    Track& tempo(std::uint32_t delta, std::uint32_t microsPerQuarter)
    {
        return event(delta,
                     {0xFF, 0x51, 0x03, static_cast<std::uint8_t>(microsPerQuarter >> 16),
                      static_cast<std::uint8_t>(microsPerQuarter >> 8), static_cast<std::uint8_t>(microsPerQuarter)});
    }
    Track& end(std::uint32_t delta) { return event(delta, {0xFF, 0x2F, 0x00}); }
    Track& number(std::uint32_t v)
    {
        std::uint8_t tmp[5];
        int n = 0;
        tmp[n++] = static_cast<std::uint8_t>(v & 0x7F);
        while (v >>= 7)
            tmp[n++] = static_cast<std::uint8_t>(0x80 | (v & 0x7F));
        while (n > 0)
            data.push_back(tmp[--n]);
        return *this;
    }
    Bytes data;
};

inline void put32(Bytes& b, std::uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8)
        b.push_back(static_cast<std::uint8_t>(v >> s));
}

inline void put16(Bytes& b, std::uint16_t v)
{
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v));
}

inline Bytes smf(std::uint16_t format, std::uint16_t division, const std::vector<Track>& tracks)
{
    Bytes b{'M', 'T', 'h', 'd'};
    put32(b, 6);
    put16(b, format);
    put16(b, static_cast<std::uint16_t>(tracks.size()));
    put16(b, division);
    for (const Track& t : tracks) {
        b.insert(b.end(), {'M', 'T', 'r', 'k'});
        put32(b, static_cast<std::uint32_t>(t.data.size()));
        b.insert(b.end(), t.data.begin(), t.data.end());
    }
    return b;
}

inline Bytes rmid(const Bytes& midi)
{
    auto le32 = [](Bytes& b, std::uint32_t v) {
        for (int s = 0; s < 32; s += 8)
            b.push_back(static_cast<std::uint8_t>(v >> s));
    };
    Bytes b{'R', 'I', 'F', 'F'};
    le32(b, static_cast<std::uint32_t>(4 + 8 + midi.size() + (midi.size() & 1)));
    b.insert(b.end(), {'R', 'M', 'I', 'D', 'd', 'a', 't', 'a'});
    le32(b, static_cast<std::uint32_t>(midi.size()));
    b.insert(b.end(), midi.begin(), midi.end());
    if (midi.size() & 1)
        b.push_back(0);
    return b;
}

// One piano note held for `millis` at 120 beats a minute and 480 ticks a beat (1 ms = 0.96
// ticks, so whole multiples of 125 ms come out exact), then the end of the track.
inline Bytes tune(std::uint32_t millis, std::uint8_t program = 0)
{
    const std::uint32_t ticks = millis * 480 / 500;
    Track t;
    t.tempo(0, 500000).event(0, {0xC0, program}).event(0, {0x90, 60, 100}).event(ticks, {0x80, 60, 0}).end(0);
    return smf(0, 480, {t});
}

inline std::int64_t samplesOf(std::uint32_t millis)
{
    return static_cast<std::int64_t>(millis) * 48;
}

class ScratchDir {
public:
    ScratchDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "ombura music XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            std::abort();
        root = pattern;
        // Words the parser matches, inside a folder name, must not change any command.
        dir = root / "a b ü'x\" type waveaudio alias x";
        std::filesystem::create_directories(dir);
    }
    ~ScratchDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    std::string write(const std::string& name, const Bytes& bytes) const
    {
        const std::filesystem::path p = dir / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }
    std::filesystem::path root;
    std::filesystem::path dir;
};

} // namespace music_test
