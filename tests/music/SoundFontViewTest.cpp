#include "SoundFontView.h"
#include "FluidSynthEngine.h"

#include <fcntl.h>
#include <fluidsynth.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace {

using sound::MidiPreset;

std::vector<std::uint8_t> readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> readView(const sound::SoundFontView& view)
{
    const int fd = ::open(view.path().c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(view.size()));
    const bool read = fd >= 0 && view.read(fd, 0, bytes.data(), bytes.size());
    if (fd >= 0)
        ::close(fd);
    return read ? bytes : std::vector<std::uint8_t>();
}

// Writes a little-endian RIFF structure by hand, so each test can break one thing in it.
struct Bytes {
    std::vector<std::uint8_t> b;
    Bytes& u16(unsigned v)
    {
        b.push_back(static_cast<std::uint8_t>(v & 0xFF));
        b.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
        return *this;
    }
    Bytes& u32(std::uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    Bytes& text(const std::string& s, std::size_t width)
    {
        std::string padded = s;
        padded.resize(width, '\0');
        b.insert(b.end(), padded.begin(), padded.end());
        return *this;
    }
    Bytes& chunk(const std::string& id, const Bytes& body)
    {
        text(id, 4).u32(static_cast<std::uint32_t>(body.b.size()));
        b.insert(b.end(), body.b.begin(), body.b.end());
        return *this;
    }
};

// A small font: piano (0,0) and a kit (128,0) share instrument 1; (0,5) uses instrument 2 after a
// global zone; instrument 0 is used by no preset.
struct SmallFont {
    std::vector<unsigned> presetBags{0, 1, 3, 4};
    std::vector<unsigned> instrumentOfZone{1, 0xFFFF, 2, 1}; // 0xFFFF: a global zone
    unsigned instrumentAmountBroken = 0;

    std::vector<std::uint8_t> bytes() const
    {
        Bytes phdr, pbag, pgen, inst, ibag, igen, shdr, pmod, imod;
        const std::vector<std::pair<unsigned, unsigned>> presets{{0, 0}, {0, 5}, {128, 0}};
        for (std::size_t i = 0; i < presets.size(); ++i)
            phdr.text(std::string(1, static_cast<char>('A' + i)), 20)
                .u16(presets[i].second)
                .u16(presets[i].first)
                .u16(presetBags[i])
                .u32(0)
                .u32(0)
                .u32(0);
        phdr.text("EOP", 20).u16(0).u16(0).u16(presetBags.back()).u32(0).u32(0).u32(0);
        unsigned gens = 0;
        for (unsigned instrument : instrumentOfZone) {
            pbag.u16(gens).u16(0);
            if (instrument == 0xFFFF) {
                pgen.u16(43).u16(0x7F00); // key range, the global zone's only generator
            } else {
                pgen.u16(41).u16(instrument + instrumentAmountBroken);
            }
            ++gens;
        }
        pbag.u16(gens).u16(0);
        pgen.u32(0);
        pmod.text("", 10);
        for (unsigned i = 0; i < 3; ++i) {
            inst.text(std::string(1, static_cast<char>('a' + i)), 20).u16(i);
            ibag.u16(i).u16(0);
            igen.u16(53).u16(0); // sample 0
        }
        inst.text("EOI", 20).u16(3);
        ibag.u16(3).u16(0);
        igen.u32(0);
        imod.text("", 10);
        shdr.text("S", 20).u32(0).u32(48).u32(8).u32(40).u32(48000).u16(60).u16(1).u16(0);
        shdr.text("EOS", 20).u32(0).u32(0).u32(0).u32(0).u32(0).u16(0).u16(0).u16(0);
        Bytes pdta;
        pdta.text("pdta", 4)
            .chunk("phdr", phdr)
            .chunk("pbag", pbag)
            .chunk("pmod", pmod)
            .chunk("pgen", pgen)
            .chunk("inst", inst)
            .chunk("ibag", ibag)
            .chunk("imod", imod)
            .chunk("igen", igen)
            .chunk("shdr", shdr);
        Bytes info, ifil, sdta, smpl;
        ifil.u16(2).u16(1);
        info.text("INFO", 4).chunk("ifil", ifil);
        smpl.text("", 2 * 96);
        sdta.text("sdta", 4).chunk("smpl", smpl);
        Bytes body;
        body.text("sfbk", 4).chunk("LIST", info).chunk("LIST", sdta).chunk("LIST", pdta);
        Bytes file;
        file.chunk("RIFF", body);
        return file.b;
    }
};

TEST(SoundFontView, KeepsTheAskedPresetsAndOnlyTheInstrumentsTheyUse)
{
    const auto font = sound::SoundFontFile::fromBytes("small.sf2", SmallFont{}.bytes());
    ASSERT_TRUE(font);
    EXPECT_EQ(font->directory().presetCount(), 3u);
    EXPECT_EQ(font->directory().instrumentCount(), 3u);

    struct Case {
        std::vector<MidiPreset> keep;
        std::size_t presets, instruments;
    };
    for (const Case& c : std::vector<Case>{
             {{}, 0, 0},
             {{{0, 5}}, 1, 1},
             {{{0, 0}, {128, 0}}, 2, 1}, // one shared instrument
             {{{0, 0}, {0, 5}, {128, 0}, {0, 9}}, 3, 2}, // (0,9) is not in the font
         }) {
        const std::vector<std::uint8_t> list = font->directory().subset(c.keep);
        ASSERT_GE(list.size(), 12u);
        const auto seen = sound::PresetDirectory::parse({list.begin() + 12, list.end()});
        ASSERT_TRUE(seen) << c.keep.size();
        EXPECT_EQ(seen->presetCount(), c.presets);
        EXPECT_EQ(seen->instrumentCount(), c.instruments);
        for (const MidiPreset& p : c.keep)
            EXPECT_EQ(seen->has(p), font->directory().has(p));
    }
}

TEST(SoundFontView, RefusesWhatFluidSynthsReaderWouldTripOver)
{
    static constexpr std::string_view kPbag = "pbag", kInfo = "INFO";
    const std::vector<std::pair<const char*, std::function<std::vector<std::uint8_t>()>>> broken{
        {"preset zones that fall back",
         [] {
             SmallFont f;
             f.presetBags = {0, 2, 1, 4};
             return f.bytes();
         }},
        {"zones past the bag table",
         [] {
             SmallFont f;
             f.presetBags = {0, 1, 3, 9};
             return f.bytes();
         }},
        {"an instrument that is not there",
         [] {
             SmallFont f;
             f.instrumentAmountBroken = 3;
             return f.bytes();
         }},
        {"cut short",
         [] {
             auto b = SmallFont{}.bytes();
             b.resize(b.size() - 30);
             return b;
         }},
        {"a RIFF size that is not the file's",
         [] {
             auto b = SmallFont{}.bytes();
             b.push_back(0);
             return b;
         }},
        {"a record cut in half",
         [] {
             auto b = SmallFont{}.bytes();
             const auto at =
                 static_cast<std::size_t>(std::search(b.begin(), b.end(), kPbag.begin(), kPbag.end()) - b.begin());
             b[at + 4] -= 2; // the chunk says two bytes fewer
             return b;
         }},
        {"the lists out of order",
         [] {
             auto b = SmallFont{}.bytes();
             const auto at =
                 static_cast<std::size_t>(std::search(b.begin(), b.end(), kInfo.begin(), kInfo.end()) - b.begin());
             std::memcpy(&b[at], "sdtx", 4);
             return b;
         }},
        {"not a SoundFont",
         [] { return std::vector<std::uint8_t>{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'}; }},
        {"empty", [] { return std::vector<std::uint8_t>(); }},
    };
    ASSERT_TRUE(sound::SoundFontFile::fromBytes("small.sf2", SmallFont{}.bytes()));
    for (const auto& [what, make] : broken)
        EXPECT_FALSE(sound::SoundFontFile::fromBytes("broken.sf2", make())) << what;
}

// The installed GM fonts, read from disk: the view is the file up to its directory.
TEST(SoundFontView, ServesTheFileUpToANewDirectory)
{
    int tried = 0;
    for (const char* path : {"/usr/share/sounds/sf2/TimGM6mb.sf2", "/usr/share/sounds/sf2/FluidR3_GM.sf2"}) {
        if (!std::filesystem::exists(path))
            continue;
        ++tried;
        const auto font = sound::SoundFontFile::open(path);
        ASSERT_TRUE(font) << path;
        EXPECT_GT(font->directory().presetCount(), 128u) << path;
        const std::vector<MidiPreset> tune{{0, 4}, {0, 33}, {0, 115}, {128, 0}};
        const auto view = font->view(tune);
        const std::vector<std::uint8_t> bytes = readView(*view);
        ASSERT_EQ(bytes.size(), view->size()) << path;
        const auto seen = sound::SoundFontFile::fromBytes(path, bytes);
        ASSERT_TRUE(seen) << path;
        EXPECT_EQ(seen->directory().presetCount(), tune.size()) << path;
        EXPECT_LT(seen->directory().instrumentCount(), 20u) << path;

        // Everything before the directory is the file's own (the RIFF size aside), samples included.
        const std::vector<std::uint8_t> file = readAll(path);
        const std::size_t prefix = bytes.size() - font->directory().subset(tune).size();
        EXPECT_TRUE(
            std::equal(bytes.begin() + 8, bytes.begin() + static_cast<std::ptrdiff_t>(prefix), file.begin() + 8))
            << path;
        std::uint8_t past = 0;
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        EXPECT_FALSE(view->read(fd, view->size() - 1, &past, 2));
        ::close(fd);
    }
    if (tried == 0)
        GTEST_SKIP() << "no General MIDI SoundFont installed";
}

// The game's synthesiser, shown only a tune's presets, plays sample for sample what FluidSynth
// plays with the whole font, through a change to another tune's presets too; and the effect
// sends it leaves out, with reverb and chorus off, change nothing.
TEST(SoundFontView, TheSynthesiserSoundsAsWithTheWholeFont)
{
    const std::string path = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << "TimGM6mb not installed";
    const auto engine = sound::acquireFluidSynth(path);
    ASSERT_TRUE(engine);

    fluid_settings_t* settings = new_fluid_settings();
    fluid_settings_setnum(settings, "synth.sample-rate", 48000.0);
    fluid_settings_setint(settings, "synth.midi-channels", 16);
    fluid_settings_setint(settings, "synth.reverb.active", 0);
    fluid_settings_setint(settings, "synth.chorus.active", 0);
    fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);

    struct Tune {
        std::vector<MidiPreset> presets;
        std::vector<std::array<int, 3>> notes; // channel, program, key
    };
    const std::vector<Tune> tunes{
        {{{0, 4}, {0, 33}, {0, 115}, {128, 0}}, {{0, 4, 60}, {1, 33, 40}, {2, 115, 72}, {9, 0, 38}}},
        {{{0, 0}, {0, 73}, {128, 0}}, {{0, 0, 48}, {3, 73, 84}, {9, 0, 42}}},
    };
    for (const Tune& tune : tunes) {
        {
            std::lock_guard lock(engine->mutex());
            engine->reset();
            engine->prepare(tune.presets);
            for (const auto& [channel, program, key] : tune.notes) {
                engine->channelMessage(static_cast<std::uint8_t>(0xB0 | channel), 91, 40); // reverb send
                engine->channelMessage(static_cast<std::uint8_t>(0xB0 | channel), 93, 30); // chorus send
                engine->channelMessage(static_cast<std::uint8_t>(0xC0 | channel), static_cast<std::uint8_t>(program),
                                       0);
                engine->channelMessage(static_cast<std::uint8_t>(0x90 | channel), static_cast<std::uint8_t>(key), 100);
            }
        }
        // A fresh one for each tune: its own reset leaves a block of the last notes behind.
        fluid_synth_t* whole = new_fluid_synth(settings);
        ASSERT_NE(fluid_synth_sfload(whole, path.c_str(), 0), FLUID_FAILED);
        for (const auto& [channel, program, key] : tune.notes) {
            fluid_synth_cc(whole, channel, 91, 40);
            fluid_synth_cc(whole, channel, 93, 30);
            fluid_synth_program_select(whole, channel, 1, channel == 9 ? 128 : 0, program);
            fluid_synth_noteon(whole, channel, key, 100);
        }
        constexpr int kFrames = 24000;
        std::vector<float> ours(kFrames * 2, 0.0f), theirs(kFrames * 2, 0.0f);
        {
            std::lock_guard lock(engine->mutex());
            engine->renderAdd(ours.data(), kFrames);
        }
        fluid_synth_write_float(whole, kFrames, theirs.data(), 0, 2, theirs.data(), 1, 2);
        delete_fluid_synth(whole);
        double energy = 0, error = 0;
        for (std::size_t i = 0; i < theirs.size(); ++i) {
            energy += double{theirs[i]} * theirs[i];
            error += (double{ours[i]} - theirs[i]) * (double{ours[i]} - theirs[i]);
        }
        EXPECT_GT(energy, 1.0);
        // The first tune is the synthesiser's first: sample for sample. After another tune,
        // FluidSynth itself never plays quite the same (its voices sit in other places), with
        // or without a view; a missing or wrong instrument would be heard far above this.
        if (&tune == &tunes.front())
            EXPECT_EQ(ours, theirs);
        else
            EXPECT_LT(error, energy * 1e-6) << "error " << 10 * std::log10(error / energy) << " dB";
    }
    delete_fluid_settings(settings);
}

} // namespace
