// SPDX-License-Identifier: GPL-3.0-or-later

#include "../support/SkipUnlessCi.h"
#include "MidiBytes.h"
#include "MusicChannel.h"
#include "SoundFontCheck.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using namespace std::chrono_literals;

extern char** environ;

namespace {

using music_test::Bytes;
using music_test::Track;

// Loudness in 10 ms steps from the first sound on, from interleaved stereo. FluidSynth's player
// starts a block of 64 frames later than the channel does.
std::vector<double> envelope(const std::vector<float>& stereo)
{
    std::vector<double> e;
    const auto first = std::find_if(stereo.begin(), stereo.end(), [](float x) { return std::abs(x) > 1e-6f; });
    for (auto at = static_cast<std::size_t>((first - stereo.begin()) & ~1); at + 960 <= stereo.size(); at += 960) {
        double sum = 0;
        for (std::size_t i = at; i < at + 960; ++i)
            sum += double{stereo[i]} * stereo[i];
        e.push_back(std::sqrt(sum / 960));
    }
    return e;
}

double correlation(const std::vector<double>& a, const std::vector<double>& b)
{
    const std::size_t n = std::min(a.size(), b.size());
    double ma = 0, mb = 0;
    for (std::size_t i = 0; i < n; ++i) {
        ma += a[i] / static_cast<double>(n);
        mb += b[i] / static_cast<double>(n);
    }
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < n; ++i) {
        ab += (a[i] - ma) * (b[i] - mb);
        aa += (a[i] - ma) * (a[i] - ma);
        bb += (b[i] - mb) * (b[i] - mb);
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

// FluidSynth's own player, the whole font loaded, rendering to a float WAV file.
std::vector<float> fluidsynthRenders(const std::string& font, const std::string& midi, const std::string& wav)
{
    std::vector<std::string> args{"fluidsynth", "-ni",   "-q", "-F",    wav,
                                  "-O",         "float", "-r", "48000", "-R",
                                  "0",          "-C",    "0",  "-o",    "synth.dynamic-sample-loading=1",
                                  font,         midi};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int status = 0;
    const bool ran = posix_spawnp(&pid, "fluidsynth", &quiet, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&quiet);
    if (!ran || waitpid(pid, &status, 0) < 0)
        return {};
    SF_INFO info{};
    SNDFILE* file = sf_open(wav.c_str(), SFM_READ, &info);
    if (!file)
        return {};
    std::vector<float> out(static_cast<std::size_t>(info.frames * info.channels));
    out.resize(static_cast<std::size_t>(sf_readf_float(file, out.data(), info.frames) * info.channels));
    sf_close(file);
    return out;
}

// A GS message setting one parameter, with its checksum.
Track gs(Track t, std::uint8_t device, std::uint8_t a1, std::uint8_t a2, std::uint8_t value)
{
    const auto sum = static_cast<std::uint8_t>((128 - (0x40 + a1 + a2 + value) % 128) % 128);
    return t.event(0, {0xF0, 10, 0x41, device, 0x42, 0x12, 0x40, a1, a2, value, sum, 0xF7});
}

// Half a second of notes on `channel`: a phrase for a melodic instrument, kick, snare and hats
// for a kit.
Track phrase(Track t, std::uint8_t channel)
{
    for (int key : {36, 38, 42, 60}) {
        t.event(0, {static_cast<std::uint8_t>(0x90 | channel), static_cast<std::uint8_t>(key), 100});
        t.event(120, {static_cast<std::uint8_t>(0x80 | channel), static_cast<std::uint8_t>(key), 0});
    }
    return t;
}

// A SoundFont with two presets (bank 0, programs 0 and 1), each playing one instrument on one
// silent sample, written by hand so that each test can break one thing in it. The sample data are
// a gap in the file of `sampleBytes` (a sparse file, if large), or `ogg` for an SF3 font. The
// tune's sample (program 0's) takes the first `tuneBytes` of them, or all but the last 46 frames;
// program 1's takes what follows, or the same.
struct TestFont {
    std::uint16_t sampleOfInstrument = 0;
    std::uint16_t presetGenerator = 41; // every preset zone's: 41 names its instrument
    std::uint64_t sampleBytes = 2 * 4800;
    std::uint64_t tuneBytes = 0;
    std::optional<std::uint32_t> everyStart; // replaces every sample's start
    std::optional<std::uint32_t> everyEnd;
    Bytes ogg;

    struct Riff {
        Bytes b;
        Riff& u16(unsigned v)
        {
            ombura::appendLe16(b, v);
            return *this;
        }
        Riff& u32(std::uint64_t v)
        {
            ombura::appendLe32(b, static_cast<std::uint32_t>(v));
            return *this;
        }
        Riff& text(std::string_view s, std::size_t width)
        {
            b.insert(b.end(), s.begin(), s.end());
            b.insert(b.end(), width - s.size(), 0);
            return *this;
        }
        Riff& chunk(std::string_view id, const Riff& body)
        {
            text(id, 4).u32(body.b.size()).b.insert(b.end(), body.b.begin(), body.b.end());
            return *this;
        }
    };

    std::string writeTo(const std::filesystem::path& path) const
    {
        const bool sf3 = !ogg.empty();
        const std::uint64_t size = sf3 ? ogg.size() : sampleBytes;
        // A compressed sample ends at a byte of the chunk, a plain one at a frame.
        const std::uint64_t end = sf3 ? size : size / 2 - 46;
        const std::uint64_t tuneEnd = tuneBytes > 0 ? tuneBytes / 2 : end;
        Riff phdr, inst, shdr, bag, mod, pgen, igen, ifil, info, pdta, head, tail;
        phdr.text("p0", 20).u16(0).u16(0).u16(0).u32(0).u32(0).u32(0);
        phdr.text("p1", 20).u16(1).u16(0).u16(1).u32(0).u32(0).u32(0);
        phdr.text("EOP", 20).u16(0).u16(0).u16(2).u32(0).u32(0).u32(0);
        inst.text("i0", 20).u16(0).text("i1", 20).u16(1).text("EOI", 20).u16(2);
        for (auto [start, stop] : {std::pair{std::uint64_t{0}, tuneEnd}, std::pair{tuneBytes > 0 ? tuneEnd : 0, end}}) {
            shdr.text("s", 20).u32(everyStart.value_or(start)).u32(everyEnd.value_or(stop)).u32(start + 8);
            shdr.u32(start + 1000).u32(48000).u16(60).u16(0).u16(sf3 ? 0x11 : 0x01);
        }
        shdr.text("EOS", 46);
        bag.u16(0).u16(0).u16(1).u16(0).u16(2).u16(0);
        mod.text("", 10);
        pgen.u16(presetGenerator).u16(0).u16(presetGenerator).u16(1).u32(0);
        igen.u16(53).u16(sampleOfInstrument).u16(53).u16(1).u32(0);
        pdta.text("pdta", 4).chunk("phdr", phdr).chunk("pbag", bag).chunk("pmod", mod).chunk("pgen", pgen);
        pdta.chunk("inst", inst).chunk("ibag", bag).chunk("imod", mod).chunk("igen", igen).chunk("shdr", shdr);
        info.text("INFO", 4).chunk("ifil", ifil.u16(sf3 ? 3 : 2).u16(1));
        tail.chunk("LIST", pdta);
        head.text("RIFF", 4).u32(4 + 8 + info.b.size() + 20 + size + tail.b.size()).text("sfbk", 4);
        head.chunk("LIST", info).text("LIST", 4).u32(12 + size).text("sdta", 4).text("smpl", 4).u32(size);
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(head.b.data()), static_cast<std::streamsize>(head.b.size()));
        out.write(reinterpret_cast<const char*>(ogg.data()), static_cast<std::streamsize>(ogg.size()));
        out.seekp(static_cast<std::streamoff>(size - ogg.size()), std::ios::cur);
        out.write(reinterpret_cast<const char*>(tail.b.data()), static_cast<std::streamsize>(tail.b.size()));
        return path.string();
    }
};

// A second of silence at 48 kHz, Ogg Vorbis encoded by libsndfile. With its last page made
// random, the length libsndfile reports is its "unknown" mark, which FluidSynth 2.3 multiplies by
// two into an allocation of 2^64 - 2 bytes.
enum class LastPage { Whole, Damaged };
Bytes oggSilence(LastPage last)
{
    struct Sink {
        Bytes bytes;
        sf_count_t at = 0;
    } sink;
    SF_VIRTUAL_IO io{};
    io.get_filelen = [](void* s) { return static_cast<sf_count_t>(static_cast<Sink*>(s)->bytes.size()); };
    io.seek = [](sf_count_t offset, int whence, void* s) {
        Sink& k = *static_cast<Sink*>(s);
        const auto size = static_cast<sf_count_t>(k.bytes.size());
        return k.at = offset + (whence == SEEK_SET ? 0 : whence == SEEK_CUR ? k.at : size);
    };
    io.read = [](void*, sf_count_t, void*) -> sf_count_t { return 0; };
    io.write = [](const void* p, sf_count_t n, void* s) {
        Sink& k = *static_cast<Sink*>(s);
        k.bytes.resize(std::max(k.bytes.size(), static_cast<std::size_t>(k.at + n)));
        std::memcpy(k.bytes.data() + k.at, p, static_cast<std::size_t>(n));
        k.at += n;
        return n;
    };
    io.tell = [](void* s) { return static_cast<Sink*>(s)->at; };
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 1;
    info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, &sink);
    const std::vector<float> silence(48000, 0.0f);
    sf_writef_float(file, silence.data(), 48000);
    sf_close(file);
    const std::string_view text(reinterpret_cast<const char*>(sink.bytes.data()), sink.bytes.size());
    for (std::size_t at = text.rfind("OggS"), i = 0;
         last == LastPage::Damaged && at != std::string_view::npos && at + i < sink.bytes.size(); ++i)
        sink.bytes[at + i] = static_cast<std::uint8_t>(i * 167 + 13);
    return sink.bytes;
}

// The process's memory now ("VmRSS:") or at its peak so far ("VmHWM:").
std::uint64_t memoryKib(std::string_view which)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(which))
            return std::stoull(line.substr(which.size()));
    }
    return 0;
}

// Every way a MIDI file chooses its instruments, each file played after the one before on the
// same synthesiser (as the game's channel keeps it), sounds as FluidSynth's own player sounds with
// the whole font: resets by GM, GS and XG messages, to every device and to one, bank selects,
// kits, a GS rhythm part, a reset in mid-tune, and channels that never choose an instrument.
TEST(FluidSynthEngine, EveryTuneSoundsAsFluidSynthPlaysItWithTheWholeFont)
{
    const Track gmOn = Track().event(0, {0xF0, 5, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    const Track xgOn = Track().event(0, {0xF0, 8, 0x43, 0x7F, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7});
    const auto bank = [](Track t, std::uint8_t channel, std::uint8_t msb, std::uint8_t lsb, std::uint8_t program) {
        return t.event(0, {static_cast<std::uint8_t>(0xB0 | channel), 0, msb})
            .event(0, {static_cast<std::uint8_t>(0xB0 | channel), 32, lsb})
            .event(0, {static_cast<std::uint8_t>(0xC0 | channel), program});
    };
    struct Case {
        const char* what;
        Track track;
    };
    std::vector<Case> cases;
    cases.push_back({"GM System On, then bank 8", phrase(bank(gmOn, 0, 8, 0, 4), 0)});
    Track gmOne = bank(Track().event(0, {0xF0, 5, 0x7E, 0x10, 0x09, 0x01, 0xF7}), 0, 8, 0, 4);
    cases.push_back({"GM System On to one device", phrase(gmOne, 0)});
    for (std::uint8_t device : {std::uint8_t{0x7F}, std::uint8_t{0x10}}) {
        const Track t = gs(gs(Track(), device, 0x00, 0x7F, 0x00), device, 0x13, 0x15, 0x01); // channel 3: drums
        cases.push_back({device == 0x7F ? "GS Reset, rhythm part" : "GS Reset, rhythm part, to one device",
                         phrase(phrase(bank(bank(t, 0, 8, 0, 4), 2, 0, 0, 16), 0), 2)});
    }
    cases.push_back(
        {"XG reset, LSB bank and an MSB 127 kit", phrase(phrase(bank(bank(xgOn, 0, 0, 8, 4), 2, 127, 0, 0), 0), 2)});
    Track xgOne = Track().event(0, {0xF0, 8, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7});
    cases.push_back({"XG reset to one device", phrase(bank(xgOne, 0, 0, 8, 4), 0)});
    Track kits = phrase(Track().event(0, {0xC9, 25}), 9);
    cases.push_back({"kit changes on channel 10", phrase(kits.event(0, {0xC9, 48}), 9)});
    Track mid = phrase(bank(Track(), 0, 8, 0, 4), 0);
    mid.event(0, {0xF0, 8, 0x43, 0x7F, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7});
    cases.push_back({"an XG reset in mid-tune", phrase(phrase(bank(mid, 0, 0, 8, 4), 0), 1)});
    Track plain = bank(bank(Track(), 0, 8, 0, 4), 1, 0, 8, 4);
    cases.push_back(
        {"bank MSB and LSB, and channels without a program change", phrase(phrase(phrase(phrase(plain, 0), 1), 3), 9)});

    music_test::ScratchDir scratch;
    int fonts = 0;
    for (const char* font : {"/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/sounds/sf2/TimGM6mb.sf2",
                             "/usr/share/sounds/sf3/FluidR3Mono_GM.sf3"}) {
        if (!std::filesystem::exists(font))
            continue;
        ++fonts;
        sound::MusicChannel channel{std::string(font)};
        ASSERT_TRUE(channel.waitUntilReady(60s));
        ASSERT_TRUE(channel.hasSynth()) << font;
        for (Case& c : cases) {
            const std::string midi = scratch.write("tune.mid", music_test::smf(0, 480, {Track(c.track).end(480)}));
            const std::vector<float> theirs = fluidsynthRenders(font, midi, scratch.file("tune.wav").string());
            ASSERT_FALSE(theirs.empty()) << "fluidsynth did not render " << c.what;

            ASSERT_EQ(channel.send("open " + midi + " type sequencer alias midifile", nullptr, 0), 0u);
            ASSERT_TRUE(channel.waitUntilReady(60s));
            channel.send("play midifile", nullptr, 0);
            std::vector<float> ours(theirs.size(), 0.0f);
            for (std::size_t at = 0; at < ours.size(); at += 1024)
                channel.render(ours.data() + at, static_cast<int>(std::min<std::size_t>(512, (ours.size() - at) / 2)));
            channel.send("close midifile", nullptr, 0);

            const double r = correlation(envelope(ours), envelope(theirs));
            EXPECT_GE(r, 0.99) << c.what << " with " << font;
        }
    }
    if (fonts == 0)
        SKIP_UNLESS_CI("no General MIDI SoundFont installed");
}

} // namespace

namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

// A font that will not load, cannot sound the tune, would hold too much of it in memory or cannot
// give it its instruments gives way to the next on the list (TimGM6mb here); every test font is
// silent, so sound means the next one plays. FluidSynth accepts the three damaged kinds with
// warnings only. The damaged SF3 once aborted the sanitizer runs (see tools/sanitize.sh). A font
// whose tune needs little plays, however large: silence, and its samples in memory.
#if defined(__SANITIZE_THREAD__)
constexpr bool kUnderThreadSanitizer = true;
#elif defined(__has_feature)
constexpr bool kUnderThreadSanitizer = __has_feature(thread_sanitizer);
#else
constexpr bool kUnderThreadSanitizer = false;
#endif

TEST(FluidSynthEngine, AFontThatCannotPlayTheTuneGivesWayToTheNext)
{
    const std::string next = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    if (!std::filesystem::exists(next))
        SKIP_UNLESS_CI("TimGM6mb not installed");
    enum class Outcome { GivesWay, Plays };
    struct Case {
        const char* what;
        TestFont font;
        bool cutOnceLoaded = false;
        Outcome outcome = Outcome::GivesWay;
    };
    const std::vector<Case> cases{
        {"an instrument names a missing sample", {.sampleOfInstrument = 2}},
        {"every sample's end before its start", {.everyStart = 1000, .everyEnd = 8}},
        {"every sample's start at 0xFFFFFFF0", {.everyStart = 0xFFFFFFF0}},
        {"every preset generator's id invalid", {.presetGenerator = 99}},
        {"a sparse 500 MiB font whose tune takes 300 MiB", {.sampleBytes = 500 * kMiB, .tuneBytes = 300 * kMiB}},
        {"the file cut short before the tune's samples are read", {}, true},
        {"an SF3 sample's last Ogg page damaged", {.ogg = oggSilence(LastPage::Damaged)}},
        {"a sparse 2 GiB font whose tune takes 100 MiB",
         {.sampleBytes = 2048 * kMiB, .tuneBytes = 100 * kMiB},
         false,
         Outcome::Plays},
    };
    music_test::ScratchDir scratch;
    const std::string tune = scratch.write("tune.mid", music_test::tune(1000));
    for (const Case& c : cases) {
        const std::uint64_t before = memoryKib("VmRSS:");
        const std::string font = c.font.writeTo(scratch.file(std::string(c.what) + ".sf2"));
        sound::MusicChannel channel{std::vector<std::string>{font, next}};
        ASSERT_TRUE(channel.waitUntilReady(60s));
        if (c.cutOnceLoaded)
            std::filesystem::resize_file(font, 100);
        channel.send("open " + tune + " type sequencer alias midifile", nullptr, 0);
        ASSERT_TRUE(channel.waitUntilReady(60s));
        channel.send("play midifile", nullptr, 0);
        std::vector<float> out(2 * 512 * 48, 0.0f);
        for (std::size_t at = 0; at < out.size(); at += 1024)
            channel.render(out.data() + at, 512);
        const bool heard = std::any_of(out.begin(), out.end(), [](float x) { return std::abs(x) > 1e-3f; });
        const std::uint64_t grown = memoryKib("VmHWM:") - before;
        EXPECT_EQ(heard, c.outcome == Outcome::GivesWay) << c.what;
        // ThreadSanitizer shadows every page the samples touch, so there the process's peak is
        // not the samples' and says nothing about the bound.
        if (!kUnderThreadSanitizer) {
            EXPECT_LT(grown, 256u * 1024) << c.what;
            if (c.outcome == Outcome::Plays) {
                EXPECT_GE(grown, 95u * 1024) << c.what << ": the tune's samples were not read";
            }
        }
    }
}

// What a tune's presets cost, as FluidSynth holds their samples: each sample once, frames of two
// bytes, an SF3 sample as long as it decodes; and nothing when a preset is missing or silent.
TEST(SoundFontDirectory, CountsTheSamplesThePresetsLoad)
{
    music_test::ScratchDir scratch;
    const std::string big =
        TestFont{.sampleBytes = 2048 * kMiB, .tuneBytes = 100 * kMiB}.writeTo(scratch.file("big.sf2"));
    const std::optional<sound::SoundFontDirectory> directory = sound::SoundFontDirectory::read(big);
    ASSERT_TRUE(directory);
    using P = sound::PresetNumber;
    const std::vector<P> tune{{0, 0}, {0, 0}};
    EXPECT_EQ(directory->sampleBytes(tune), 104857600u);
    const std::vector<P> both{{0, 0}, {0, 1}};
    EXPECT_EQ(directory->sampleBytes(both), 2147483648u - 92);
    const std::vector<P> missing{{0, 0}, {0, 5}};
    EXPECT_EQ(directory->sampleBytes(missing), std::nullopt);

    for (LastPage last : {LastPage::Whole, LastPage::Damaged}) {
        const std::string sf3 = TestFont{.ogg = oggSilence(last)}.writeTo(scratch.file("font.sf3"));
        const std::optional<sound::SoundFontDirectory> d = sound::SoundFontDirectory::read(sf3);
        ASSERT_TRUE(d);
        const std::vector<P> one{{0, 0}};
        EXPECT_EQ(d->sampleBytes(one), last == LastPage::Whole ? std::optional<std::uint64_t>(96000) : std::nullopt);
    }
}

} // namespace
