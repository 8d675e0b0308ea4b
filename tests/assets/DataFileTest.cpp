// SPDX-License-Identifier: GPL-3.0-or-later

// The four committed data files, read the way a careful player would: the
// effects as PCM WAV, the music as a Standard MIDI File. They must also hold
// what this build makes from their sources: the same samples, the same notes.

#include "ByteOrder.h"
#include "DataFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace {

const std::string kData = std::string(OMBURA_SOURCE_ASSETS) + "/data/";
const std::string kBuilt = std::string(OMBURA_BUILT_DATA) + "/";

std::vector<std::uint8_t> readAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// Both throw when the file ends too soon.
std::uint32_t le(const std::vector<std::uint8_t>& b, std::size_t at, int bytes)
{
    static_cast<void>(b.at(at + std::size_t(bytes) - 1));
    return ombura::readLe(b, at, bytes);
}

std::uint32_t be(const std::vector<std::uint8_t>& b, std::size_t at, int bytes)
{
    static_cast<void>(b.at(at + std::size_t(bytes) - 1));
    return ombura::readBe(b, at, bytes);
}

struct Wav {
    int format = 0, channels = 0, rate = 0, bits = 0;
    std::vector<std::int16_t> samples;
};

// Walks the chunks rather than assuming a 44-byte header.
std::optional<Wav> readWav(const std::vector<std::uint8_t>& b)
{
    if (b.size() < 12 || std::string(b.begin(), b.begin() + 4) != "RIFF" ||
        std::string(b.begin() + 8, b.begin() + 12) != "WAVE" || le(b, 4, 4) + 8 != b.size())
        return std::nullopt;
    Wav w;
    bool haveFmt = false, haveData = false;
    for (std::size_t at = 12; at + 8 <= b.size();) {
        const std::string id(b.begin() + std::ptrdiff_t(at), b.begin() + std::ptrdiff_t(at + 4));
        const std::uint32_t size = le(b, at + 4, 4);
        if (at + 8 + size > b.size())
            return std::nullopt;
        if (id == "fmt " && size >= 16) {
            w.format = int(le(b, at + 8, 2));
            w.channels = int(le(b, at + 10, 2));
            w.rate = int(le(b, at + 12, 4));
            w.bits = int(le(b, at + 22, 2));
            haveFmt = true;
        } else if (id == "data") {
            for (std::size_t i = 0; i + 1 < size; i += 2)
                w.samples.push_back(std::int16_t(le(b, at + 8 + i, 2)));
            haveData = true;
        }
        at += 8 + size + (size & 1);
    }
    if (!haveFmt || !haveData)
        return std::nullopt;
    return w;
}

struct EffectCase {
    std::string_view file;
    double maxSeconds;
    double peakDb; // each has its own peak: they are levelled by loudness (docs/SOUND.md)
};

class Effects : public ::testing::TestWithParam<EffectCase> { };

TEST_P(Effects, IsShortMonoSixteenBitPcmAtItsPeakLevel)
{
    const auto w = readWav(readAll(kData + std::string(GetParam().file)));
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ(w->format, 1);
    EXPECT_EQ(w->channels, 1);
    EXPECT_EQ(w->bits, 16);
    EXPECT_TRUE(w->rate == 22050 || w->rate == 44100) << w->rate;
    ASSERT_FALSE(w->samples.empty());

    const double seconds = double(w->samples.size()) / w->rate;
    EXPECT_GT(seconds, 0.1);
    EXPECT_LE(seconds, GetParam().maxSeconds);

    int peak = 0;
    for (std::int16_t s : w->samples)
        peak = std::max(peak, std::abs(int(s)));
    const double peakDb = 20 * std::log10(peak / 32768.0);
    EXPECT_NEAR(peakDb, GetParam().peakDb, 0.3);
}

TEST_P(Effects, StartsAndEndsOnSilenceWithoutAClick)
{
    const auto w = readWav(readAll(kData + std::string(GetParam().file)));
    ASSERT_TRUE(w.has_value());
    ASSERT_GT(w->samples.size(), 200u);
    EXPECT_EQ(w->samples.front(), 0);
    EXPECT_EQ(w->samples.back(), 0);
    // Neither end may jump: the first and last millisecond stay well below the peak.
    const std::size_t ms = std::size_t(w->rate / 1000);
    for (std::size_t i = 0; i < ms; ++i) {
        EXPECT_LT(std::abs(int(w->samples[i])), 12000) << "start " << i;
        EXPECT_LT(std::abs(int(w->samples[w->samples.size() - 1 - i])), 6000) << "end " << i;
    }
}

TEST_P(Effects, IsWhatTheGeneratorMakes)
{
    const auto committed = readWav(readAll(kData + std::string(GetParam().file)));
    const auto built = readWav(readAll(kBuilt + std::string(GetParam().file)));
    ASSERT_TRUE(committed.has_value());
    ASSERT_TRUE(built.has_value()) << "not built: " << kBuilt + std::string(GetParam().file);
    EXPECT_EQ(std::tie(committed->format, committed->channels, committed->rate, committed->bits),
              std::tie(built->format, built->channels, built->rate, built->bits));
    EXPECT_TRUE(committed->samples == built->samples) << "regenerate the effects (docs/ASSETS.md)";
}

INSTANTIATE_TEST_SUITE_P(DataFiles, Effects,
                         ::testing::Values(EffectCase{assets::kSpinFile, 0.6, -1.0},
                                           EffectCase{assets::kWarningFile, 0.5, -7.0},
                                           EffectCase{assets::kSlashFile, 0.5, -1.0}),
                         [](const ::testing::TestParamInfo<EffectCase>& param) {
                             const std::string f(param.param.file);
                             return f.substr(0, f.find('.'));
                         });

TEST(EffectReader, RejectsWhatIsNotAWave)
{
    // The reader above must not pass anything: a truncated copy fails.
    std::vector<std::uint8_t> b = readAll(kData + std::string(assets::kSlashFile));
    ASSERT_GT(b.size(), 100u);
    b.resize(b.size() / 2);
    EXPECT_FALSE(readWav(b).has_value());
    EXPECT_FALSE(readWav({}).has_value());
}

struct Note {
    int tick, channel, key, velocity, length;
    auto operator<=>(const Note&) const = default;
};

struct Midi {
    int format = -1, division = 0;
    std::vector<int> trackEnds;
    double seconds = 0;
    std::map<int, int> tempoAt; // tick -> microseconds a quarter note
    int firstNoteTick = -1;
    int lastReleaseTick = -1;
    int notes = 0;
    int unmatched = 0;
    std::map<int, int> programs; // channel -> program
    std::vector<int> finalKeys; // pitched keys released at the very end
    std::vector<Note> played; // every matched note, in order
    std::set<std::tuple<int, int, int>> settings; // controller and program messages
};

int readVarLen(const std::vector<std::uint8_t>& b, std::size_t& p)
{
    int v = 0;
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t c = b.at(p++);
        v = (v << 7) | (c & 0x7F);
        if (!(c & 0x80))
            return v;
    }
    throw std::runtime_error("variable length too long");
}

Midi readMidi(const std::vector<std::uint8_t>& b)
{
    Midi m;
    if (b.size() < 14 || std::string(b.begin(), b.begin() + 4) != "MThd")
        throw std::runtime_error("no MThd");
    m.format = int(be(b, 8, 2));
    const int tracks = int(be(b, 10, 2));
    m.division = int(be(b, 12, 2));
    std::map<int, int>& tempoAt = m.tempoAt;
    tempoAt[0] = 500000;
    struct Release {
        int tick, channel, key;
    };
    std::vector<Release> releases;
    std::size_t p = 8 + be(b, 4, 4);
    for (int t = 0; t < tracks; ++t) {
        if (std::string(b.begin() + std::ptrdiff_t(p), b.begin() + std::ptrdiff_t(p + 4)) != "MTrk")
            throw std::runtime_error("no MTrk");
        const std::size_t end = p + 8 + be(b, p + 4, 4);
        p += 8;
        int tick = 0, status = 0;
        std::map<std::pair<int, int>, std::vector<std::pair<int, int>>> on; // -> tick and velocity
        while (p < end) {
            tick += readVarLen(b, p);
            if (b.at(p) & 0x80)
                status = b.at(p++);
            if (status == 0xFF) {
                const int type = b.at(p++);
                const int len = readVarLen(b, p);
                if (type == 0x51)
                    tempoAt[tick] = int(be(b, p, 3));
                if (type == 0x2F)
                    m.trackEnds.push_back(tick);
                p += std::size_t(len);
            } else if (status == 0xF0 || status == 0xF7) {
                p += std::size_t(readVarLen(b, p));
            } else {
                const int kind = status & 0xF0, ch = status & 0x0F;
                const int d1 = b.at(p++);
                const int d2 = (kind == 0xC0 || kind == 0xD0) ? 0 : b.at(p++);
                if (kind == 0x90 && d2 > 0) {
                    on[{ch, d1}].emplace_back(tick, d2);
                    ++m.notes;
                    if (m.firstNoteTick < 0 || tick < m.firstNoteTick)
                        m.firstNoteTick = tick;
                } else if (kind == 0x80 || (kind == 0x90 && d2 == 0)) {
                    auto& sounding = on[{ch, d1}];
                    if (sounding.empty()) {
                        ++m.unmatched;
                    } else {
                        const auto [start, velocity] = sounding.front();
                        m.played.push_back({start, ch, d1, velocity, tick - start});
                        sounding.erase(sounding.begin());
                    }
                    releases.push_back({tick, ch, d1});
                    m.lastReleaseTick = std::max(m.lastReleaseTick, tick);
                } else if (kind == 0xC0) {
                    m.programs[ch] = d1;
                }
                if (kind == 0xB0 || kind == 0xC0)
                    m.settings.emplace(status, d1, d2);
            }
        }
        for (const auto& [key, sounding] : on)
            m.unmatched += int(sounding.size());
        p = end;
    }
    std::sort(m.played.begin(), m.played.end());
    for (const Release& r : releases)
        if (r.tick == m.lastReleaseTick && r.channel != 9)
            m.finalKeys.push_back(r.key);

    // Seconds up to the end of the longest track, through every tempo change.
    const int endTick = m.trackEnds.empty() ? 0 : *std::max_element(m.trackEnds.begin(), m.trackEnds.end());
    int prevTick = 0, tempo = 500000;
    for (const auto& [tick, us] : tempoAt) {
        if (tick > endTick)
            break;
        m.seconds += double(tick - prevTick) * tempo / m.division / 1e6;
        prevTick = tick;
        tempo = us;
    }
    m.seconds += double(endTick - prevTick) * tempo / m.division / 1e6;
    return m;
}

TEST(Music, IsAFormatOneMidiFileOfFortyToNinetySeconds)
{
    const Midi m = readMidi(readAll(kData + std::string(assets::kMusicFile)));
    EXPECT_EQ(m.format, 1);
    EXPECT_EQ(m.division, 480);
    EXPECT_GE(m.seconds, 40.0);
    EXPECT_LE(m.seconds, 90.0);
    EXPECT_GT(m.notes, 100);
}

TEST(Music, PlaysJapaneseInstruments)
{
    const Midi m = readMidi(readAll(kData + std::string(assets::kMusicFile)));
    std::vector<int> programs;
    for (const auto& [ch, prog] : m.programs)
        programs.push_back(prog);
    for (int wanted : {107 /* koto */, 106 /* shamisen */, 77 /* shakuhachi */})
        EXPECT_NE(std::find(programs.begin(), programs.end(), wanted), programs.end()) << wanted;
}

TEST(Music, RestartsOnItsBarLine)
{
    // The game's watchdog looks once a second from the moment it starts the tune and restarts
    // it once it has ended, so one start follows another a whole number of seconds later: the
    // 28 bars of 4/4 must last a whole number of seconds (48 at 140 a minute) for the restart
    // to land on the bar line. The device has read stopped up to 0.4 s after the tune's length,
    // so the file ends 0.55 to 0.7 s before then, in the last bar's rest, for the watchdog to
    // find it ended.
    // It starts at once, every note is let go, and what rings last is the tonic D. abc2midi
    // starts notes a tick late and pads tracks after their last note; the score allows for both.
    const Midi m = readMidi(readAll(kData + std::string(assets::kMusicFile)));
    EXPECT_LE(m.firstNoteTick, 1);
    EXPECT_EQ(m.unmatched, 0);
    ASSERT_EQ(m.tempoAt.size(), 1u) << "one tempo throughout";
    const double barSeconds = 4 * m.tempoAt.begin()->second / 1e6;
    EXPECT_NEAR(28 * barSeconds, 48.0, 0.001);
    EXPECT_GE(48.0 - m.seconds, 0.55) << m.seconds;
    EXPECT_LE(48.0 - m.seconds, 0.7) << m.seconds;
    ASSERT_FALSE(m.trackEnds.empty());
    const int end = *std::max_element(m.trackEnds.begin(), m.trackEnds.end());
    EXPECT_LE(m.lastReleaseTick, end);
    EXPECT_LE(end - m.lastReleaseTick, m.division / 16) << "nothing after the last note but abc2midi's pad";
    ASSERT_FALSE(m.finalKeys.empty());
    for (int key : m.finalKeys)
        EXPECT_EQ(key % 12, 2) << key;
}

TEST(Music, IsWhatItsSourceCompilesTo)
{
    // The build compiles assets/music/bgm.abc with abc2midi. The committed
    // copy must play the same notes with the same instrument settings,
    // whatever bytes another version of the tool writes around them.
    const Midi committed = readMidi(readAll(kData + std::string(assets::kMusicFile)));
    const Midi built = readMidi(readAll(kBuilt + std::string(assets::kMusicFile)));
    EXPECT_EQ(committed.division, built.division);
    EXPECT_NEAR(committed.seconds, built.seconds, 1e-9);
    EXPECT_EQ(committed.settings, built.settings);
    ASSERT_EQ(committed.played.size(), built.played.size()) << "regenerate bgm.dat (docs/ASSETS.md)";
    for (std::size_t i = 0; i < committed.played.size(); ++i) {
        const Note &a = committed.played[i], &b = built.played[i];
        ASSERT_TRUE(a == b) << "note " << i << ": tick " << a.tick << " channel " << a.channel << " key " << a.key
                            << " velocity " << a.velocity << " length " << a.length << " against tick " << b.tick
                            << " channel " << b.channel << " key " << b.key << " velocity " << b.velocity << " length "
                            << b.length;
    }
}

TEST(Music, ReaderRejectsAFileThatIsNotMidi)
{
    EXPECT_THROW(readMidi(readAll(kData + std::string(assets::kSlashFile))), std::runtime_error);
}

} // namespace
