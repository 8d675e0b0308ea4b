// SPDX-License-Identifier: GPL-3.0-or-later

#include "MidiFile.h"
#include "MidiBytes.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <random>

using music_test::Bytes;
using music_test::Track;
using sound::MidiLoadError;
using sound::parseMidi;

namespace {

// An event of a track as written, and what the reader hands on for it: its sample at 48,000 a
// second, and the message as status and two data bytes (the second reads 0 for a message of
// one), or F0 and the SysEx body. What is not handed on (meta events, packets) has no sample.
struct Row {
    std::uint32_t delta;
    Bytes written;
    std::int64_t sample = -1;
    Bytes heard = {};
};
using Heard = std::vector<std::pair<std::int64_t, Bytes>>;

Heard heard(const sound::MidiSequence& s)
{
    Heard out;
    for (const sound::MidiEvent& e : s.events) {
        Bytes message{e.status, e.data1, e.data2};
        if (e.status == 0xF0) {
            message = s.sysex.at(e.sysex);
            message.insert(message.begin(), 0xF0);
        }
        out.emplace_back(e.sample, message);
    }
    return out;
}

// The file in a RIFF RMID, between chunks of odd size, each followed by its pad byte.
Bytes inRmid(const Bytes& midi)
{
    Bytes b{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'R', 'M', 'I', 'D'};
    b.insert(b.end(), {'D', 'I', 'S', 'P', 3, 0, 0, 0, 1, 0, 0, 0, 'd', 'a', 't', 'a'});
    ombura::appendLe32(b, static_cast<std::uint32_t>(midi.size()));
    b.insert(b.end(), midi.begin(), midi.end());
    if (midi.size() % 2 == 1)
        b.push_back(0);
    b.insert(b.end(), {'L', 'I', 'S', 'T', 5, 0, 0, 0, 'I', 'N', 'F', 'O', 0, 0});
    ombura::storeLe32(b, 4, static_cast<std::uint32_t>(b.size() - 8));
    return b;
}

TEST(MidiFile, ReadsEveryKindOfEventAndTime)
{
    const Bytes end{0xFF, 0x2F, 0x00};
    const Bytes fastTempo{0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90}; // 250,000 us a quarter: 240 a minute
    // clang-format off
    // SMPTE time: a note held 100 ticks, the end 2,400 ticks in, and a tempo that does not count.
    auto smpte = [&](std::int64_t off) {
        return std::vector<Row>{{0, fastTempo}, {0, {0x90, 60, 100}, 0, {0x90, 60, 100}},
                                {100, {0x80, 60, 0}, off, {0x80, 60, 0}}, {2300, end}};
    };
    const struct {
        const char* name;
        std::uint16_t division;
        std::vector<Row> rows;
        std::int64_t end;
    } cases[] = {
        // 480 ticks a quarter at the default 120 a minute: 50 samples a tick. Each kind of message,
        // then the same kind in running status.
        {"every channel message with its data bytes, and running status across kinds", 480, {
            {0, {0x80, 60, 64}, 0, {0x80, 60, 64}},          {10, {61, 0}, 500, {0x80, 61, 0}},
            {10, {0x91, 61, 100}, 1000, {0x91, 61, 100}},    {10, {62, 100}, 1500, {0x91, 62, 100}},
            {10, {0xA2, 62, 30}, 2000, {0xA2, 62, 30}},      {10, {62, 31}, 2500, {0xA2, 62, 31}},
            {10, {0xB3, 7, 100}, 3000, {0xB3, 7, 100}},      {10, {10, 64}, 3500, {0xB3, 10, 64}},
            {10, {0xC4, 5}, 4000, {0xC4, 5, 0}},             {10, {6}, 4500, {0xC4, 6, 0}},
            {10, {0xD5, 70}, 5000, {0xD5, 70, 0}},           {10, {71}, 5500, {0xD5, 71, 0}},
            {10, {0xE6, 0x00, 0x40}, 6000, {0xE6, 0x00, 0x40}}, {10, {0x7F, 0x7F}, 6500, {0xE6, 0x7F, 0x7F}},
            {0x200000, end}}, // a number of four bytes: 0x81 0x80 0x80 0x00
         6500 + 0x200000 * 50},
        // A file that leans on running status after a meta event or SysEx, which the format
        // cancels, is played as its writer meant rather than refused.
        {"SysEx, escapes and meta events", 480, {
            {0, {0xFF, 0x03, 0x03, 'b', 'g', 'm'}},
            {0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, 0, {0xF0, 0x7E, 0x7F, 0x09, 0x01}},
            {10, {0xF0, 0x03, 0x43, 0x12, 0x00}}, // the first packet of a split message
            {10, {0xF7, 0x02, 0x01, 0xF7}},       // its last packet
            {10, {0xF7, 0x01, 0xFA}},             // an escaped real-time byte
            {10, {0x90, 60, 100}, 2000, {0x90, 60, 100}}, {0, {0xFF, 0x01, 0x01, 'x'}},
            {10, {60, 0}, 2500, {0x90, 60, 0}},           {0, {0xF0, 0x03, 0x7D, 0x01, 0xF7}, 2500, {0xF0, 0x7D, 0x01}},
            {10, {61, 0}, 3000, {0x90, 61, 0}},           {0, end}},
         3000},
        // A quarter at 120 a minute is 0.5 s, at 240 0.25 s.
        {"ticks a quarter at changing tempo", 480, {
            {0, {0x90, 60, 100}, 0, {0x90, 60, 100}},  {480, {0x80, 60, 0}, 24000, {0x80, 60, 0}},
            {0, fastTempo},                            {480, {0x90, 62, 100}, 36000, {0x90, 62, 100}},
            {960, end}},
         60000},
        // Ticks a second: 24 x 4 = 96, 25 x 40 = 1,000, 29.97 x 80 = 2,397.6, 30 x 10 = 300.
        {"SMPTE 24 frames, 4 ticks each", 0xE804, smpte(50000), 1200000},
        {"SMPTE 25 frames, 40 ticks each", 0xE728, smpte(4800), 115200},
        {"SMPTE 29.97 frames, 80 ticks each", 0xE350, smpte(2002), 48048},
        {"SMPTE 30 frames, 10 ticks each", 0xE20A, smpte(16000), 384000},
    };
    // clang-format on
    std::size_t oddFiles = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Track t;
        Heard expected;
        for (const Row& r : c.rows) {
            t.number(r.delta).data.insert(t.data.end(), r.written.begin(), r.written.end());
            if (r.sample >= 0)
                expected.emplace_back(r.sample, r.heard);
        }
        const Bytes file = music_test::smf(0, c.division, {t});
        oddFiles += file.size() % 2;
        for (const Bytes& bytes : {file, inRmid(file)}) {
            const std::optional<sound::MidiSequence> s = parseMidi(bytes);
            ASSERT_TRUE(s);
            EXPECT_EQ(heard(*s), expected);
            EXPECT_EQ(s->endSample, c.end);
        }
    }
    EXPECT_GT(oddFiles, 0u) << "no file of odd size in its RMID";
}

TEST(MidiFile, MergesTracksInTimeOrderWithTempoFromAnyTrack)
{
    const Track conductor = Track().tempo(0, 1000000).end(0); // 60 a minute at 96 a quarter: 500 samples a tick
    const Track a = Track().event(0, {0x90, 60, 100}).event(96, {0x80, 60, 0}).end(0);
    const Track b = Track().event(48, {0x91, 64, 100}).event(48, {0x81, 64, 0}).end(0);
    const auto s = parseMidi(music_test::smf(1, 96, {conductor, a, b}));
    ASSERT_TRUE(s);
    // At equal times the earlier track comes first.
    EXPECT_EQ(heard(*s),
              (Heard{{0, {0x90, 60, 100}}, {24000, {0x91, 64, 100}}, {48000, {0x80, 60, 0}}, {48000, {0x81, 64, 0}}}));
}

TEST(MidiFile, RefusesEveryKindOfBrokenFile)
{
    const Bytes good = music_test::tune(500);
    auto withHeader = [](std::uint16_t format, std::uint16_t tracks, std::uint16_t division) {
        return music_test::smf(format, division, std::vector<Track>(tracks, Track().end(0)));
    };
    auto trackOf = [](std::initializer_list<std::uint8_t> bytes) {
        Track t;
        t.data = bytes;
        return music_test::smf(0, 480, {t});
    };
    Bytes lyingTrack = good;
    lyingTrack[21] = static_cast<std::uint8_t>(lyingTrack[21] + 1); // the track's length, one too long
    Bytes lyingHeader = good;
    lyingHeader[7] = 0xF0;
    Bytes missingTrack = good;
    missingTrack[9] = 1; // format 1, declaring two tracks with one present
    missingTrack[11] = 2;
    Bytes rmidNoData = music_test::rmid(good);
    rmidNoData[12] = 'x';
    Bytes rmidLying = music_test::rmid(good);
    rmidLying[19] = 0x7F;
    std::mt19937 random(7);
    Bytes noise(4096);
    for (auto& b : noise)
        b = static_cast<std::uint8_t>(random());

    const std::vector<std::pair<const char*, Bytes>> broken = {
        {"empty", {}},
        {"header only", Bytes(good.begin(), good.begin() + 14)},
        {"header length lies", lyingHeader},
        {"track length lies", lyingTrack},
        {"fewer tracks than declared", missingTrack},
        {"format 2", withHeader(2, 1, 480)},
        {"format 0 with two tracks", withHeader(0, 2, 480)},
        {"no tracks", withHeader(1, 0, 480)},
        {"division 0", withHeader(0, 1, 0)},
        {"SMPTE 23 fps", withHeader(0, 1, 0xE928)},
        {"SMPTE 0 ticks a frame", withHeader(0, 1, 0xE700)},
        {"number of five bytes", trackOf({0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 60, 100})},
        {"data without status", trackOf({0x00, 60, 100})},
        {"status inside data", trackOf({0x00, 0x90, 60, 0x90})},
        {"system common byte", trackOf({0x00, 0xF1, 0x10})},
        {"meta longer than track", trackOf({0x00, 0xFF, 0x01, 0x10, 'a'})},
        {"sysex longer than track", trackOf({0x00, 0xF0, 0x10, 0x7E})},
        {"cut inside an event", trackOf({0x00, 0x90, 60})},
        {"longer than a day", trackOf({0x00, 0xFF, 0x51, 0x03, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x90, 60, 0})},
        {"wave file", {'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0}},
        {"rmid without data", rmidNoData},
        {"rmid data length lies", rmidLying},
        {"random bytes", noise},
    };
    for (const auto& [name, bytes] : broken) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(parseMidi(bytes));
    }
    for (std::size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(parseMidi(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)))) << n;
}

TEST(MidiFile, LoadsOnlyRegularFilesOfSaneSize)
{
    music_test::ScratchDir scratch;
    const std::string tune = scratch.write("bgm.dat", music_test::rmid(music_test::tune(500)));
    EXPECT_EQ(sound::loadMidiFile(tune).error, MidiLoadError::None);
    EXPECT_EQ(sound::loadMidiFile((scratch.dir / "nothing").string()).error, MidiLoadError::NotFound);
    EXPECT_EQ(sound::loadMidiFile(scratch.dir.string()).error, MidiLoadError::Invalid);
    EXPECT_EQ(sound::loadMidiFile("/dev/zero").error, MidiLoadError::Invalid);

    // A FIFO nobody writes to must be refused at once, not waited on.
    const std::string fifo = (scratch.dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(sound::loadMidiFile(fifo).error, MidiLoadError::Invalid);

    // docs/SOUND.md: at most 16 MiB. A text event fills a tune up to the limit; a byte more is
    // refused, whatever it holds.
    constexpr std::size_t limit = 16u << 20;
    const Bytes small = music_test::tune(500);
    Track text;
    text.data = {0x00, 0xFF, 0x01};
    const std::size_t body = limit - small.size() - 8 - text.data.size() - 4 - 4;
    text.number(static_cast<std::uint32_t>(body));
    text.data.resize(text.data.size() + body, 'a');
    text.end(0);
    Bytes full = music_test::smf(1, 480, {text});
    full.erase(full.begin(), full.begin() + 14);
    Bytes atLimit = small;
    atLimit[11] = 2; // two tracks
    atLimit[9] = 1; // format 1
    atLimit.insert(atLimit.end(), full.begin(), full.end());
    ASSERT_EQ(atLimit.size(), limit);
    const std::string huge = scratch.write("huge.dat", atLimit);
    EXPECT_EQ(sound::loadMidiFile(huge).error, MidiLoadError::None);
    ASSERT_EQ(truncate(huge.c_str(), static_cast<off_t>(limit + 1)), 0);
    EXPECT_EQ(sound::loadMidiFile(huge).error, MidiLoadError::Invalid);

    // A file that is there but will not open counts as missing: a link to itself, which not even
    // root opens.
    const std::string loop = (scratch.dir / "loop").string();
    ASSERT_EQ(symlink(loop.c_str(), loop.c_str()), 0);
    EXPECT_EQ(sound::loadMidiFile(loop).error, MidiLoadError::NotFound);
}

} // namespace
