#include "MidiBytes.h"
#include "MusicChannel.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

using namespace std::chrono_literals;

extern char** environ;

namespace {

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
        GTEST_SKIP() << "no General MIDI SoundFont installed";
}

} // namespace
