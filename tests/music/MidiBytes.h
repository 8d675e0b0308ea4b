// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Small MIDI files written byte by byte for the tests, and a scratch folder whose name has
// blanks, quotes, non-ASCII letters and words the command parser knows.

#include "../support/TempDir.h"
#include "ByteOrder.h"
#include "ByteWriter.h"

#include <cstdint>
#include <filesystem>
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
        event(delta, {0xFF, 0x51, 0x03});
        ombura::appendBe(data, microsPerQuarter, 3);
        return *this;
    }
    Track& end(std::uint32_t delta) { return event(delta, {0xFF, 0x2F, 0x00}); }
    Track& number(std::uint32_t v)
    {
        ombura::appendVarLen(data, v);
        return *this;
    }
    Bytes data;
};

inline Bytes smf(std::uint16_t format, std::uint16_t division, const std::vector<Track>& tracks)
{
    Bytes b{'M', 'T', 'h', 'd'};
    ombura::appendBe32(b, 6);
    ombura::appendBe16(b, format);
    ombura::appendBe16(b, static_cast<std::uint16_t>(tracks.size()));
    ombura::appendBe16(b, division);
    for (const Track& t : tracks) {
        b.insert(b.end(), {'M', 'T', 'r', 'k'});
        ombura::appendBe32(b, static_cast<std::uint32_t>(t.data.size()));
        b.insert(b.end(), t.data.begin(), t.data.end());
    }
    return b;
}

inline Bytes rmid(const Bytes& midi)
{
    Bytes b{'R', 'I', 'F', 'F'};
    ombura::appendLe32(b, static_cast<std::uint32_t>(4 + 8 + midi.size() + (midi.size() & 1)));
    b.insert(b.end(), {'R', 'M', 'I', 'D', 'd', 'a', 't', 'a'});
    ombura::appendLe32(b, static_cast<std::uint32_t>(midi.size()));
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

class ScratchDir : public testing_support::TempDir {
public:
    // Words the parser matches, inside a folder name, must not change any command.
    ScratchDir() : TempDir("a b \xC3\xBC'x\" type waveaudio alias x") { }
    const std::filesystem::path& dir = path();
};

} // namespace music_test
