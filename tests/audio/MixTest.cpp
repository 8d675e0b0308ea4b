// SPDX-License-Identifier: GPL-3.0-or-later

// What a player hears of the whole mix, rendered offline through the real engine with the
// system's SoundFont: cuts of the music that fade instead of stepping, a dense tune that never
// passes full scale, and the shipped tune and effects balanced by their loudness.

#include "AudioEngine.h"
#include "MixMeasure.h"
#include "Multimedia32.h"
#include "SynthHost.h"

#include "../music/MidiBytes.h"
#include "../support/SkipUnlessCi.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>

using namespace sound;

namespace {

const std::string kData = OMBURA_DATA_DIR;

constexpr int kBlock = 512;

class MixTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!findSoundFont())
            SKIP_UNLESS_CI("no SoundFont installed: nothing to hear");
    }

    // The game's engine, offline, with the tune at `path` open and its instruments loaded.
    std::unique_ptr<AudioEngine> engineWithTune(const std::string& path)
    {
        auto engine = std::make_unique<AudioEngine>(AudioEngine::Output::None, std::make_unique<MusicChannel>());
        Multimedia32(*engine).OpenMusic(path);
        engine->music().waitUntilReady(std::chrono::seconds(60));
        if (!engine->music().hasSynth())
            return nullptr;
        return engine;
    }

    static std::vector<float> render(AudioEngine& engine, double seconds)
    {
        const auto frames = static_cast<std::size_t>(seconds * kOutputRate);
        std::vector<float> out(frames * 2);
        for (std::size_t done = 0; done < frames;) {
            const int n = static_cast<int>(std::min<std::size_t>(kBlock, frames - done));
            engine.mixer().render(out.data() + done * 2, n);
            done += static_cast<std::size_t>(n);
        }
        return out;
    }
};

float largestStep(const std::vector<float>& stereo, std::size_t from, std::size_t to)
{
    float step = 0;
    for (std::size_t i = std::max<std::size_t>(from, 1); i < to; ++i)
        for (std::size_t c = 0; c < 2; ++c)
            step = std::max(step, std::fabs(stereo[i * 2 + c] - stereo[(i - 1) * 2 + c]));
    return step;
}

float peakOf(const std::vector<float>& stereo, std::size_t from, std::size_t to)
{
    float peak = 0;
    for (std::size_t i = from * 2; i < to * 2; ++i)
        peak = std::max(peak, std::fabs(stereo[i]));
    return peak;
}

} // namespace

// Every way the game cuts the music, at moments spread over the tune. Before the change each
// cut stepped from the momentary amplitude straight to zero.
TEST_F(MixTest, EveryCutOfTheMusicFadesInsteadOfStepping)
{
    using Cut = std::function<void(Multimedia32&)>;
    const std::string tune = kData + "/bgm.dat";
    const struct {
        const char* name;
        Cut cut;
        bool silentAfter;
    } cuts[] = {
        // mnuStop_Click and the game over's StopGame: stop, close, open again.
        {"Stop", [&](Multimedia32& mm) { mm.OpenMusic(tune); }, true},
        // The game over and Exit close the device.
        {"game over", [](Multimedia32& mm) { mm.CloseMusic(); }, true},
        // The watchdog's restart: close, open, stop and play from the start.
        {"watchdog restart",
         [&](Multimedia32& mm) {
             mm.CloseMusic();
             mm.OpenMusic(tune);
             mm.RestartMusic();
         },
         false},
    };
    float worstJump = 0;
    for (const auto& c : cuts) {
        for (double at : {1.3, 4.71, 9.05, 17.2}) {
            SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(at) + " s");
            auto engine = engineWithTune(tune);
            if (!engine)
                SKIP_UNLESS_CI("FluidSynth did not load");
            Multimedia32 mm(*engine);
            mm.RestartMusic();
            std::vector<float> out = render(*engine, at);
            const std::size_t cutAt = out.size() / 2;
            c.cut(mm);
            if (c.silentAfter) {
                EXPECT_NE(mm.GetMusicMode(), "PLAYING") << "the device reads stopped at once";
            }
            const std::vector<float> after = render(*engine, 0.05);
            out.insert(out.end(), after.begin(), after.end());

            // The music's own sound from just before the cut to the fade's end, played on uncut:
            // its level and its largest step (a note may begin in the fade).
            const std::size_t window = kOutputRate / 50;
            const std::size_t fadeEnd = cutAt + 384; // docs/SOUND.md: every cut fades over 8 ms
            auto reference = engineWithTune(tune);
            ASSERT_TRUE(reference);
            Multimedia32(*reference).RestartMusic();
            const std::vector<float> uncut = render(*reference, at + 0.05);
            const float level = peakOf(uncut, cutAt - window, fadeEnd);
            const float ownStep = largestStep(uncut, cutAt - window, fadeEnd + 1);
            ASSERT_GT(level, 0.01f) << "the tune was sounding when it was cut";
            // What a sine at that level steps at 100 Hz, on top of what the music itself did.
            const float allowed =
                ownStep + level * 2 * static_cast<float>(std::sin(std::numbers::pi * 100 / kOutputRate));
            EXPECT_LE(largestStep(out, cutAt, fadeEnd + 1), allowed) << "level " << level << ", own step " << ownStep;
            if (!c.silentAfter)
                continue;
            EXPECT_GT(peakOf(out, fadeEnd - 96, fadeEnd), 0.0f) << "still fading in the fade's last 2 ms";
            EXPECT_EQ(peakOf(out, fadeEnd, out.size() / 2), 0.0f) << "silent once the fade is over";
            worstJump = std::max(worstJump, std::fabs(out[(fadeEnd - 1) * 2]));
            worstJump = std::max(worstJump, std::fabs(out[(fadeEnd - 1) * 2 + 1]));
        }
    }
    EXPECT_LT(worstJump, 1e-3f) << "the last sample before the silence is below -60 dBFS";
}

// The end of the program, with the tune and a spin sounding: the whole mix fades over the next
// 8 ms and is silent from then on. Before, the device was closed on whatever it was playing.
TEST_F(MixTest, TheEndOfTheProgramFadesMusicAndEffectAlike)
{
    // Played twice alike, once to the end of the program and once on: the second holds what
    // the mix itself does over the fade.
    std::vector<float> heard[2];
    std::size_t endAt = 0;
    for (const bool ending : {true, false}) {
        auto engine = engineWithTune(kData + "/bgm.dat");
        if (!engine)
            SKIP_UNLESS_CI("FluidSynth did not load");
        Multimedia32 mm(*engine);
        mm.RestartMusic();
        std::vector<float>& out = heard[ending ? 0 : 1];
        out = render(*engine, 4.71);
        mm.PlayEffect(kData + "/kuruiya.dat", 0);
        engine->effects().settle();
        const std::vector<float> spin = render(*engine, 0.03);
        out.insert(out.end(), spin.begin(), spin.end());
        endAt = out.size() / 2;
        if (ending)
            engine->shutDown();
        const std::vector<float> after = render(*engine, 0.05);
        out.insert(out.end(), after.begin(), after.end());
        if (ending) {
            ASSERT_TRUE(engine->mixer().silentFrom());
            EXPECT_EQ(*engine->mixer().silentFrom(), engine->mixer().framesMixed() - after.size() / 2 + 384);
        }
    }
    const std::vector<float>& out = heard[0];
    const std::size_t fadeEnd = endAt + 384; // 8 ms
    const float level = peakOf(heard[1], endAt, fadeEnd);
    ASSERT_GT(level, 0.05f) << "tune and spin were sounding";
    // What a sine at that level steps at 100 Hz, on top of what the mix itself did.
    const float allowed = largestStep(heard[1], endAt, fadeEnd + 1) +
                          level * 2 * static_cast<float>(std::sin(std::numbers::pi * 100 / kOutputRate));
    EXPECT_LE(largestStep(out, endAt, fadeEnd + 1), allowed) << "no step on the way down";
    EXPECT_GT(peakOf(out, fadeEnd - 96, fadeEnd), 0.0f) << "still fading in the fade's last 2 ms";
    EXPECT_EQ(peakOf(out, fadeEnd, out.size() / 2), 0.0f) << "silent once the fade is over";
    EXPECT_LT(peakOf(out, fadeEnd - 1, fadeEnd), 1e-3f) << "the last sample before the silence, -60 dBFS";
}

TEST_F(MixTest, ADenseTuneNeverPassesFullScale)
{
    // Sixteen channels of eight-note chords at full velocity, struck again every 100 ms for
    // three seconds: a tune of the user's own, far louder than ours.
    music_test::Track t;
    t.tempo(0, 500000);
    for (std::uint8_t ch = 0; ch < 16; ++ch) {
        t.event(0, {static_cast<std::uint8_t>(0xC0 | ch), static_cast<std::uint8_t>(ch * 8)});
        t.event(0, {static_cast<std::uint8_t>(0xB0 | ch), 7, 127});
    }
    for (int beat = 0; beat < 30; ++beat) {
        for (std::uint8_t ch = 0; ch < 16; ++ch)
            for (std::uint8_t note = 0; note < 8; ++note)
                t.event(0, {static_cast<std::uint8_t>(0x90 | ch), static_cast<std::uint8_t>(36 + note * 5 + ch), 127});
        t.event(96, {0xB0, 123, 0}); // 100 ms at 960 ticks a second
    }
    t.end(0);
    music_test::ScratchDir dir;
    const std::string path = dir.write("loud.mid", music_test::smf(0, 480, {t}));

    auto engine = engineWithTune(path);
    if (!engine)
        SKIP_UNLESS_CI("FluidSynth did not load");
    Multimedia32 mm(*engine);
    mm.RestartMusic();
    for (int i = 0; i < 15; ++i) {
        mm.PlayEffect(kData + "/kuruiya.dat", 0);
        engine->effects().settle();
        const std::vector<float> out = render(*engine, 0.2);
        for (float v : out)
            ASSERT_LE(std::fabs(v), 0.891f) << "-1 dBFS";
        if (i == 5) {
            EXPECT_GT(peakOf(out, 0, out.size() / 2), 0.6f) << "loud enough to reach the limiter's knee";
        }
    }
}

TEST_F(MixTest, EveryShippedEffectSoundsWithinSixLuOfTheTuneAndLeavesHeadroom)
{
    const auto tune = mixmeasure::renderTune(kData + "/bgm.dat", "", 48.0);
    if (!tune)
        SKIP_UNLESS_CI("FluidSynth did not load");
    const auto music = mixmeasure::measure(*tune);
    if (const auto small = mixmeasure::renderTune(kData + "/bgm.dat", "/usr/share/sounds/sf2/TimGM6mb.sf2", 48.0)) {
        EXPECT_NEAR(mixmeasure::measure(*small).integratedLufs, -19.00, 0.3);
    }
    // Each effect's loudness while it sounds, as docs/SOUND.md gives it: the warning beep once
    // sounded at -12.1 LUFS, 9 LU over the tune, and the slash at -26.1.
    const struct {
        const char* file;
        double lufs;
    } effects[] = {{"/kuruiya.dat", -18.94}, {"/keikoku.dat", -18.09}, {"/zaku.dat", -24.16}};
    for (const auto& e : effects) {
        SCOPED_TRACE(e.file);
        const std::vector<float> alone = mixmeasure::renderEffect(kData + e.file);
        const double loudness = mixmeasure::soundingLoudness(alone);
        EXPECT_NEAR(loudness, e.lufs, 0.3);
        EXPECT_LE(std::fabs(loudness - music.integratedLufs), 6.0)
            << "tune " << music.integratedLufs << " LUFS, effect " << loudness << " LUFS";
        EXPECT_LE(mixmeasure::measure(alone).truePeakDbtp, -1.0);
    }
    const auto game = mixmeasure::renderGame(kData + "/bgm.dat", kData + "/kuruiya.dat", "", 48.0, 0.6);
    ASSERT_TRUE(game);
    for (const auto& m : {music, mixmeasure::measure(*game)})
        EXPECT_LE(m.truePeakDbtp, -1.0);
}
