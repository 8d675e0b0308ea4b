// The game's own readers take the data files as we make them: the effect
// player decodes the three sounds, the sequencer times the tune.

#include "MidiFile.h"
#include "WavDecoder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kData = std::string(OMBURA_SOURCE_ASSETS) + "/data/";

TEST(GameReadsData, EffectPlayerDecodesEveryEffect)
{
    const struct {
        const char* file;
        double seconds;
    } effects[] = {{"kuruiya.dat", 0.55}, {"keikoku.dat", 0.40}, {"zaku.dat", 0.35}};
    for (const auto& e : effects) {
        SCOPED_TRACE(e.file);
        const sound::WavResult r = sound::loadWavFile(kData + e.file);
        ASSERT_TRUE(r.sound.has_value());
        const double seconds = double(r.sound->frames()) / double(sound::kSequenceRate);
        EXPECT_NEAR(seconds, e.seconds, 0.01);
    }
}

TEST(GameReadsData, SequencerTimesTheTuneToItsLastNote)
{
    const sound::MidiLoad load = sound::loadMidiFile(kData + "bgm.dat");
    ASSERT_EQ(load.error, sound::MidiLoadError::None);
    ASSERT_TRUE(load.sequence.has_value());
    const double seconds = double(load.sequence->endSample) / double(sound::kSequenceRate);
    EXPECT_NEAR(seconds, 50.909, 0.01);
    // The last event is a release, not a note left to ring past the end,
    // and it comes close enough to the end that the restart follows on.
    ASSERT_FALSE(load.sequence->events.empty());
    const sound::MidiEvent& last = load.sequence->events.back();
    EXPECT_LE(last.sample, load.sequence->endSample);
    EXPECT_LT(load.sequence->endSample - last.sample, sound::kSequenceRate * 30 / 1000);
    EXPECT_EQ(last.status & 0xF0, 0x80);
}

} // namespace
