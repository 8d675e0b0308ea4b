// SPDX-License-Identifier: GPL-3.0-or-later

// The game's own readers take the data files as we make them: the effect
// player decodes the three sounds, the sequencer times the tune, and the
// synthesiser plays it.

#include "../support/SkipUnlessCi.h"
#include "AudioSource.h"
#include "DataFiles.h"
#include "EffectFile.h"
#include "FluidSynthEngine.h"
#include "MidiFile.h"
#include "SynthHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace {

const std::string kData = std::string(OMBURA_SOURCE_ASSETS) + "/data/";

TEST(GameReadsData, EffectPlayerDecodesEveryEffect)
{
    const struct {
        std::string_view file;
        double seconds;
    } effects[] = {{assets::kSpinFile, 0.55}, {assets::kWarningFile, 0.40}, {assets::kSlashFile, 0.28}};
    for (const auto& e : effects) {
        SCOPED_TRACE(e.file);
        const auto sound = sound::loadEffectFile(kData + std::string(e.file));
        ASSERT_TRUE(sound);
        const double seconds = double(sound->frames()) / double(sound::kOutputRate);
        EXPECT_NEAR(seconds, e.seconds, 0.01);
    }
}

TEST(GameReadsData, SequencerTimesTheTuneToItsLastNote)
{
    const sound::MidiLoad load = sound::loadMidiFile(kData + std::string(assets::kMusicFile));
    ASSERT_EQ(load.error, sound::MidiLoadError::None);
    ASSERT_TRUE(load.sequence.has_value());
    const double seconds = double(load.sequence->endSample) / double(sound::kSequenceRate);
    EXPECT_NEAR(seconds, 47.380, 0.01);
    // The last event is a release, not a note left to ring past the end,
    // and it comes close enough to the end that the restart follows on.
    ASSERT_FALSE(load.sequence->events.empty());
    const sound::MidiEvent& last = load.sequence->events.back();
    EXPECT_LE(last.sample, load.sequence->endSample);
    EXPECT_LT(load.sequence->endSample - last.sample, sound::kSequenceRate * 30 / 1000);
    EXPECT_EQ(last.status & 0xF0, 0x80);
}

TEST(GameReadsData, SynthesiserPlaysEveryBarOfTheTune)
{
    // Rendered offline the way the game plays it, every one of the 28 bars
    // sounds and nothing clips.
    static constexpr std::string_view small[] = {"/usr/share/sounds/sf2/TimGM6mb.sf2"};
    std::optional<std::string> font = sound::findSoundFont(small);
    if (!font)
        font = sound::findSoundFont();
    if (!font)
        SKIP_UNLESS_CI("no General MIDI SoundFont installed");
    const auto synth = sound::FluidSynthEngine::create(*font);
    ASSERT_NE(synth, nullptr);
    const sound::MidiLoad load = sound::loadMidiFile(kData + std::string(assets::kMusicFile));
    ASSERT_TRUE(load.sequence.has_value());
    const sound::MidiSequence& tune = *load.sequence;

    const std::scoped_lock lock(synth->mutex());
    synth->prepare(tune);
    const double barFrames = double(sound::kSequenceRate) * 60 * 4 / 140;
    std::vector<double> energy(28), frames(28);
    double peak = 0;
    std::int64_t now = 0;
    std::vector<float> block;
    auto renderTo = [&](std::int64_t until) {
        while (now < until) {
            const int n = int(std::min<std::int64_t>(512, until - now));
            block.assign(std::size_t(n) * 2, 0.0f);
            synth->renderAdd(block.data(), n);
            for (int i = 0; i < n; ++i) {
                const auto bar = std::min<std::size_t>(27, std::size_t(double(now + i) / barFrames));
                for (int c = 0; c < 2; ++c) {
                    const double v = block[std::size_t(i * 2 + c)];
                    energy[bar] += v * v;
                    peak = std::max(peak, std::abs(v));
                }
                frames[bar] += 2;
            }
            now += n;
        }
    };
    for (const sound::MidiEvent& e : tune.events) {
        renderTo(e.sample);
        ASSERT_NE(e.status, 0xF0) << "the tune needs no system-exclusive messages";
        synth->channelMessage(e.status, e.data1, e.data2);
    }
    renderTo(tune.endSample);
    synth->reset();

    EXPECT_LT(peak, 1.0);
    for (std::size_t bar = 0; bar < energy.size(); ++bar) {
        const double rms = std::sqrt(energy[bar] / std::max(frames[bar], 1.0));
        EXPECT_GT(20 * std::log10(rms + 1e-12), -45.0) << "bar " << bar + 1 << " is silent";
    }
}

} // namespace
