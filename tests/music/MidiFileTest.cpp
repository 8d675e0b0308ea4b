// SPDX-License-Identifier: GPL-3.0-or-later

#include "MidiFile.h"
#include "MidiBytes.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>

using music_test::Bytes;
using music_test::Track;
using sound::MidiLoadError;
using sound::parseMidi;

namespace {

std::vector<std::int64_t> timesOf(const sound::MidiSequence& s)
{
    std::vector<std::int64_t> t;
    for (const auto& e : s.events)
        t.push_back(e.sample);
    return t;
}

TEST(MidiFile, TempoChangesTurnTicksIntoSamples)
{
    Track t;
    t.event(0, {0x90, 60, 100})
        .event(480, {0x80, 60, 0}) // one beat at 120 bpm: 0.5 s
        .tempo(0, 250000)
        .event(480, {0x90, 62, 100}) // one beat at 240 bpm: 0.25 s
        .event(0, {0x80, 62, 0})
        .end(960); // two more beats: 0.5 s
    const auto s = parseMidi(music_test::smf(0, 480, {t}));
    ASSERT_TRUE(s);
    EXPECT_EQ(timesOf(*s), (std::vector<std::int64_t>{0, 24000, 36000, 36000}));
    EXPECT_EQ(s->endSample, 60000);
}

// docs/SOUND.md: numbers of up to four bytes, as the format allows; five are refused below.
TEST(MidiFile, ReadsNumbersOfFourBytes)
{
    Track t;
    t.event(0, {0x90, 60, 100}).event(0x200000, {0x80, 60, 0}).end(0); // 0x81 0x80 0x80 0x00
    const auto s = parseMidi(music_test::smf(0, 480, {t}));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->events.back().sample, std::int64_t{0x200000} * 50) << "50 samples a tick at 120 bpm";
}

TEST(MidiFile, MergesTracksInTimeOrderWithTempoFromAnyTrack)
{
    Track conductor;
    conductor.tempo(0, 1000000).end(0); // 60 bpm
    Track a;
    a.event(0, {0x90, 60, 100}).event(96, {0x80, 60, 0}).end(0);
    Track b;
    b.event(48, {0x91, 64, 100}).event(48, {0x81, 64, 0}).end(0);
    const auto s = parseMidi(music_test::smf(1, 96, {conductor, a, b}));
    ASSERT_TRUE(s);
    EXPECT_EQ(timesOf(*s), (std::vector<std::int64_t>{0, 24000, 48000, 48000}));
    // At equal times the earlier track comes first.
    EXPECT_EQ(s->events[2].status, 0x80);
    EXPECT_EQ(s->events[3].status, 0x81);
}

TEST(MidiFile, KeepsRunningStatusAndSysexAndSkipsMetaText)
{
    Track t;
    t.event(0, {0xFF, 0x01, 0x03, 'a', 'b', 'c'})
        .event(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}) // GM system on
        .event(0, {0xF7, 0x02, 0x12, 0x34}) // an escape: not sent
        .event(0, {0x90, 60, 100})
        .event(10, {62, 100}) // running status
        .event(10, {60, 0})
        .end(0);
    const auto s = parseMidi(music_test::smf(0, 480, {t}));
    ASSERT_TRUE(s);
    ASSERT_EQ(s->events.size(), 4u);
    EXPECT_EQ(s->events[0].status, 0xF0);
    const sound::MidiSysex blob = s->sysex.at(s->events[0].sysex);
    EXPECT_EQ(Bytes(s->sysexBytes.begin() + blob.offset, s->sysexBytes.begin() + blob.offset + blob.size),
              (Bytes{0x7E, 0x7F, 0x09, 0x01}));
    EXPECT_EQ(s->events[2].status, 0x90);
    EXPECT_EQ(s->events[2].data1, 62);
    EXPECT_EQ(s->events[3].data2, 0);
}

TEST(MidiFile, ReadsSmpteTimeAndRmid)
{
    Track t;
    t.event(0, {0xB0, 0, 8}).event(0, {0xC0, 107}).event(0, {0xC9, 0}).event(0, {0xC1, 77}).end(1000);
    const Bytes bare = music_test::smf(0, static_cast<std::uint16_t>(0xE700 | 40), {t}); // 25 fps x 40
    const auto s = parseMidi(bare);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->endSample, 48000);
    EXPECT_EQ(s->events.size(), 4u);

    const auto wrapped = parseMidi(music_test::rmid(bare));
    ASSERT_TRUE(wrapped);
    EXPECT_EQ(wrapped->endSample, s->endSample);
    EXPECT_EQ(wrapped->events.size(), s->events.size());
}

TEST(MidiFile, RefusesEveryKindOfBrokenFile)
{
    const Bytes good = music_test::tune(500);
    auto withHeader = [](std::uint16_t format, std::uint16_t tracks, std::uint16_t division) {
        Track t;
        t.end(0);
        Bytes b = music_test::smf(format, division, std::vector<Track>(tracks, t));
        return b;
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

// Every single-byte change of a valid file either fails or gives a tune in time order: this
// is a guard against crashes and runaway loops as much as a check of the result.
TEST(MidiFile, MutatedFilesFailOrStayOrdered)
{
    Track t;
    t.tempo(0, 400000).event(0, {0xB0, 0, 1}).event(0, {0xC0, 5}).event(0, {0x90, 60, 100}).event(100, {60, 0});
    t.event(0, {0xF0, 0x03, 0x41, 0x10, 0xF7}).end(20);
    const Bytes good = music_test::smf(1, 96, {t, t});
    for (std::size_t i = 0; i < good.size(); ++i) {
        for (const std::uint8_t value : std::vector<std::uint8_t>{0x00, 0x7F, 0x80, 0xF7, 0xFF}) {
            Bytes b = good;
            b[i] = value;
            const auto s = parseMidi(b);
            if (!s)
                continue;
            EXPECT_TRUE(std::is_sorted(s->events.begin(), s->events.end(),
                                       [](const auto& x, const auto& y) { return x.sample < y.sample; }));
            if (!s->events.empty()) {
                EXPECT_LE(s->events.back().sample, s->endSample);
            }
        }
    }
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

    if (geteuid() != 0) {
        ASSERT_EQ(chmod(tune.c_str(), 0), 0);
        EXPECT_EQ(sound::loadMidiFile(tune).error, MidiLoadError::NotFound);
    }
}

} // namespace
