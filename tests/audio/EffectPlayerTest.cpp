// SPDX-License-Identifier: GPL-3.0-or-later

#include "EffectPlayer.h"
#include "Eventually.h"
#include "Mixer.h"
#include "MixerClock.h"
#include "Multimedia32.h"
#include "SoundPlatform.h"
#include "WavBytes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <future>
#include <numbers>
#include <thread>
#include <vector>

using namespace sound;
using namespace wavtest;
using testing_support::eventually;
using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t kGameFlags = SoundFlag::Async | SoundFlag::NoDefault | SoundFlag::NoStop; // 19
constexpr std::uint32_t kLoopFlags = kGameFlags | static_cast<std::uint32_t>(SoundFlag::Loop); // 27
constexpr std::uint32_t kInterrupt = SoundFlag::Async | SoundFlag::NoDefault; // 3
constexpr std::uint32_t kSync = 0;

// docs/SOUND.md: effects fade in over 2 ms and out over 5 ms.
constexpr std::size_t kIn = 96;
constexpr std::size_t kOut = 240;

// The largest step from one sample to the next in `stereo`, either side.
float largestStep(const std::vector<float>& stereo, float before = 0.0f)
{
    float step = 0;
    float left = before;
    float right = before;
    for (std::size_t i = 0; i + 1 < stereo.size(); i += 2) {
        step = std::max({step, std::fabs(stereo[i] - left), std::fabs(stereo[i + 1] - right)});
        left = stereo[i];
        right = stereo[i + 1];
    }
    return step;
}

// What a sine of this peak level steps from one sample to the next at `hz`.
float sineStep(float level, double hz)
{
    return static_cast<float>(level * 2 * std::sin(std::numbers::pi * hz / kOutputRate));
}

// Two effects of known length and level at the output rate, so that every rendered frame can
// be told apart: A is 1000 frames at 0.25, B 300 frames at 0.5. Between their fades they come
// out exactly at that level: the player adds no gain of its own.
class EffectPlayerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        a = dir.file("spin sound.dat").string();
        b = dir.file("\xC3\xBC'slash.dat").string();
        writeFile(a, levelWav(1000, 8192));
        writeFile(b, levelWav(300, 16384));
    }

    // Renders `frames` frames (in blocks of at most 512, as the device would) and returns them.
    std::vector<float> pull(int frames)
    {
        std::vector<float> out(static_cast<std::size_t>(frames) * 2, 0.0f);
        for (int done = 0; done < frames;) {
            const int n = std::min(512, frames - done);
            player.render(out.data() + done * 2, n);
            done += n;
        }
        return out;
    }

    bool start(const std::string& path, std::uint32_t flags) { return player.play(path, flags); }

    // The time moves only when the test moves it: an effect that no output renders lasts
    // exactly its length, and a synchronous request waits for its render however slow.
    void advance(std::chrono::milliseconds span) { now_ += std::chrono::nanoseconds(span).count(); }

    OddTempDir dir;
    std::string a;
    std::string b;
    std::string missing = "/nonexistent folder/zaku.dat";
    std::atomic<std::int64_t> now_{0};
    EffectPlayer player{[this] { return EffectPlayer::Clock::time_point(std::chrono::nanoseconds(now_.load())); }};
};

} // namespace

TEST_F(EffectPlayerTest, RefusesWhileSoundingAndAcceptsRightAfterTheLastSample)
{
    ASSERT_TRUE(start(a, kGameFlags));
    auto out = pull(999);
    EXPECT_FLOAT_EQ(out[500 * 2], 0.25f);
    EXPECT_LT(out[(kIn - 1) * 2], 0.25f) << "fading in to the last frame of 2 ms";
    EXPECT_FLOAT_EQ(out[kIn * 2], 0.25f);
    EXPECT_FLOAT_EQ(out[(1000 - kOut - 1) * 2], 0.25f);
    EXPECT_LT(out[(1000 - kOut) * 2], 0.25f) << "fading out over the last 5 ms";
    EXPECT_TRUE(player.active());
    EXPECT_FALSE(player.play(b, kGameFlags)) << "one sample of A is still to be mixed";
    EXPECT_FALSE(player.play(a, kLoopFlags));

    out = pull(2);
    EXPECT_GT(out[0], 0.0f) << "A plays to its end, the refused B is not mixed in";
    EXPECT_LT(out[0], 0.001f) << "its last sample faded to all but silence";
    EXPECT_FLOAT_EQ(out[2], 0.0f) << "and B was not queued either";
    EXPECT_FALSE(player.active());

    ASSERT_TRUE(start(b, kGameFlags));
    out = pull(300);
    EXPECT_FLOAT_EQ(out[120 * 2], 0.5f);
    EXPECT_FALSE(player.active());
    EXPECT_TRUE(player.play(b, kGameFlags));
    EXPECT_EQ(player.decodes(), 2u) << "each file was decoded once";
}

TEST_F(EffectPlayerTest, FilesNamedAtStartUpAreDecodedThenAndOnlyThen)
{
    player.prepare({a, missing});
    player.settle();
    EXPECT_EQ(player.decodes(), 2u);
    writeFile(a, Bytes(3000, 0x5A)); // A request now must not read the file again.
    ASSERT_TRUE(player.play(a, kGameFlags));
    EXPECT_FLOAT_EQ(pull(1000)[500 * 2], 0.25f) << "A as it was decoded at start-up";
    EXPECT_FALSE(player.play(missing, kGameFlags));
    writeFile(b, Bytes(3000, 0x5A));
    EXPECT_FALSE(player.play(b, kGameFlags)) << "a file not named then is read when asked for";
    EXPECT_EQ(player.decodes(), 3u);
}

TEST_F(EffectPlayerTest, LoopRepeatsUntilAnInterruptingRequestReplacesIt)
{
    ASSERT_TRUE(start(a, kGameFlags)); // decoded once, so the next request for it starts at once
    pull(1000);
    ASSERT_TRUE(start(b, kLoopFlags));
    const auto out = pull(300 * 7 + 13);
    for (std::size_t i = kIn * 2; i < out.size(); ++i)
        ASSERT_FLOAT_EQ(out[i], 0.5f) << "sample " << i << ": no fade at the loop's seams";
    EXPECT_TRUE(player.active());
    EXPECT_FALSE(player.play(a, kGameFlags)) << "a no-stop request never interrupts the loop";

    ASSERT_TRUE(player.play(a, kInterrupt));
    auto after = pull(1001);
    EXPECT_GT(after[0], 0.4f) << "the loop fades out under A's start";
    EXPECT_FLOAT_EQ(after[500 * 2], 0.25f) << "then only A sounds";
    EXPECT_FLOAT_EQ(after[1000 * 2], 0.0f) << "the replacement does not loop";
    EXPECT_FALSE(player.active());
}

TEST_F(EffectPlayerTest, SyncCutsOffTheSoundingEffectAndReturnsOnlyAtItsEnd)
{
    ASSERT_TRUE(start(b, kGameFlags)); // known to the cache from now on
    pull(300);
    ASSERT_TRUE(start(a, kLoopFlags));
    pull(100);
    auto done = std::async(std::launch::async, [&] { return player.play(b, kSync); });
    // Pulled frame by frame until the synchronous request has replaced the loop: B's level.
    std::vector<float> block;
    ASSERT_TRUE(eventually([&] {
        block = pull(1);
        return block[0] > 0.3f;
    })) << "B never replaced the loop";
    int rendered = 0;
    while (player.active()) {
        EXPECT_EQ(done.wait_for(0s), std::future_status::timeout)
            << "returned while B still sounds, after " << rendered << " frames";
        block = pull(10);
        rendered += 10;
        ASSERT_LT(rendered, 1000);
    }
    EXPECT_GE(rendered, 300 - static_cast<int>(kOut)) << "B played on to its end";
    ASSERT_EQ(done.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(done.get());
}

TEST_F(EffectPlayerTest, UnplayableFilesAreSilentWithNoDefault)
{
    OddTempDir other;
    const auto garbage = other.file("garbage.dat");
    writeFile(garbage, Bytes(3000, 0x5A));
    const auto midi = other.file("bgm as an effect.dat");
    writeFile(midi, Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96});
    for (const std::string& path : {missing, garbage.string(), midi.string(), other.path().string(), std::string()}) {
        SCOPED_TRACE(path);
        for (std::uint32_t flags : {kGameFlags, kLoopFlags, kInterrupt}) {
            EXPECT_FALSE(start(path, flags));
            EXPECT_FALSE(player.active()) << "the channel is free again";
            const auto out = pull(2000);
            EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == 0.0f; }));
        }
    }
    EXPECT_FALSE(player.play(garbage.string(), kGameFlags));
    EXPECT_EQ(player.decodes(), 4u) << "each broken file was read once, the empty path never";
}

TEST_F(EffectPlayerTest, WithoutNoDefaultTheBuiltInBeepStandsIn)
{
    const Waveform& beep = EffectPlayer::defaultSound();
    ASSERT_GT(beep.frames(), 2 * kOut);
    OddTempDir other;
    const auto garbage = other.file("garbage.dat");
    writeFile(garbage, Bytes(3000, 0x5A));
    for (const std::string& path : {missing, std::string(), garbage.string()}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(start(path, static_cast<std::uint32_t>(SoundFlag::Async))) << "the file itself did not play";
        EXPECT_TRUE(player.active());
        const auto out = pull(static_cast<int>(beep.frames()) + 10);
        for (std::size_t i = kIn * 2; i < beep.samples.size() - kOut * 2; ++i)
            ASSERT_FLOAT_EQ(out[i], beep.samples[i]) << i;
        EXPECT_FLOAT_EQ(out.back(), 0.0f);
        EXPECT_FALSE(player.active());
    }

    // Synchronous, as a mode other than 0 and 1 asks: the caller waits out the beep.
    auto done = std::async(std::launch::async, [&] { return player.play(missing, kSync); });
    ASSERT_TRUE(eventually([&] {
        pull(256);
        return done.wait_for(0s) == std::future_status::ready;
    }));
    EXPECT_FALSE(done.get());
    EXPECT_FALSE(player.active());
}

TEST_F(EffectPlayerTest, AFailedInterruptingRequestStillStopsTheSoundingEffect)
{
    ASSERT_TRUE(start(a, kLoopFlags));
    const auto before = pull(200);
    EXPECT_FALSE(player.play(missing, kInterrupt));
    const auto fade = pull(static_cast<int>(kOut));
    EXPECT_LE(largestStep(fade, before[before.size() - 1]), sineStep(0.25f, 250)) << "a fade, not a step";
    EXPECT_FALSE(player.active());
    const auto out = pull(100);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == 0.0f; }));
}

TEST_F(EffectPlayerTest, EffectsStartAndEndWithoutAStep)
{
    // A file that starts and stops at nine tenths of full scale, as a careless edit leaves
    // one: the player's fades take the step out at both ends, and at a cut.
    const auto loud = dir.file("loud.dat").string();
    writeFile(loud, levelWav(4800, 29491));
    const float level = 29491.0f / 32768.0f;
    ASSERT_TRUE(start(loud, kGameFlags));
    const auto whole = pull(4800 + 100);
    EXPECT_FLOAT_EQ(whole[2400 * 2], level);
    EXPECT_LE(largestStep(whole), sineStep(level, 250)) << "no step larger than a 250 Hz sine at that level makes";

    ASSERT_TRUE(player.play(loud, kInterrupt));
    auto cut = pull(1000);
    ASSERT_TRUE(player.play(b, kInterrupt));
    auto rest = pull(1000);
    cut.insert(cut.end(), rest.begin(), rest.end());
    EXPECT_LE(largestStep(cut), sineStep(level, 250));
}

TEST_F(EffectPlayerTest, WithoutAnOutputAnEffectSoundsForItsRealTimeLength)
{
    // Nothing renders (no audio device): the request is refused for as long as the sound
    // would last, then accepted; a synchronous request waits that long and no longer.
    player.setRenderingProbe([] { return false; });
    const std::string tenth = dir.file("tenth.dat").string();
    writeFile(tenth, levelWav(4800, 1000)); // 100 ms
    ASSERT_TRUE(start(b, kGameFlags));
    advance(1s);
    ASSERT_TRUE(start(tenth, kGameFlags));
    advance(1s);
    EXPECT_FALSE(player.active()) << "both decoded, and nothing sounding";

    ASSERT_TRUE(player.play(tenth, kGameFlags));
    advance(99ms);
    EXPECT_TRUE(player.active());
    EXPECT_FALSE(player.play(b, kGameFlags));
    advance(1ms);
    EXPECT_FALSE(player.active());
    EXPECT_TRUE(player.play(b, kGameFlags));

    auto done = std::async(std::launch::async, [&] { return player.play(tenth, kSync); });
    EXPECT_EQ(done.wait_for(20ms), std::future_status::timeout) << "returned before its time had passed";
    advance(100ms);
    ASSERT_EQ(done.wait_for(10s), std::future_status::ready) << "must return, not wait for a device that is not there";
    EXPECT_TRUE(done.get());
    EXPECT_FALSE(player.active());
}

namespace {

// The play-sound call served by one effect player, recording what the game asked.
class PlayerPlatform : public SoundPlatform {
public:
    explicit PlayerPlatform(EffectPlayer& player) : player_(player) { }
    std::uint32_t mciSendString(std::string_view, char*, unsigned) override { return 1; }
    bool sndPlaySound(const std::string& path, std::uint32_t flags) override
    {
        flags_.push_back(flags);
        taken_.push_back(player_.play(path, flags));
        return taken_.back();
    }
    std::vector<std::uint32_t> flags_;
    std::vector<bool> taken_;

private:
    EffectPlayer& player_;
};

} // namespace

TEST_F(EffectPlayerTest, PlayEffectModesOneAndOthersLoopAndWait)
{
    PlayerPlatform platform(player);
    Multimedia32 mm(platform);

    // Mode 1 (flags 27): loops until a request that may interrupt replaces it.
    mm.PlayEffect(b, 1);
    pull(300 * 4);
    EXPECT_TRUE(player.active()) << "still sounding after four lengths of B";
    mm.PlayEffect(a, 0);
    EXPECT_FALSE(platform.taken_.back()) << "mode 0 (flags 19) is refused while the loop sounds";
    EXPECT_TRUE(player.active());

    // Any other mode (flags 0): the loop is cut, and the call returns once A has played out.
    auto done = std::async(std::launch::async, [&] { mm.PlayEffect(a, 7); });
    std::size_t framesOfA = 0;
    ASSERT_TRUE(eventually([&] {
        // Ready or not before this block, as the device would not know either.
        const bool returned = done.wait_for(0s) == std::future_status::ready;
        const auto block = pull(16);
        for (std::size_t i = 0; i < block.size(); i += 2)
            framesOfA += block[i] == 0.25f ? 1 : 0;
        return returned;
    })) << "the call never returned";
    // A alone at its level: after the loop's fade under its start, before its own fade out.
    EXPECT_EQ(framesOfA, 1000 - 2 * kOut) << "A was heard whole before the call returned";
    EXPECT_TRUE(platform.taken_.back()) << "A itself played";
    EXPECT_FALSE(player.active());
    mm.PlayEffect(a, 0);
    EXPECT_TRUE(platform.taken_.back()) << "the channel is free again for mode 0";
    EXPECT_EQ(platform.flags_, (std::vector<std::uint32_t>{27, 19, 0, 19}));
}

TEST(SoftLimit, NeverPassesItsCeilingAndLeavesTheShippedLevelsAlone)
{
    constexpr float knee = 0.6f; // -4.4 dBFS
    constexpr float ceiling = 0.891f; // -1 dBFS
    float last = 0.0f;
    for (float x = 0.0f; x < 40.0f; x += 0.001f) {
        const float y = softLimit(x);
        ASSERT_LE(y, ceiling) << x;
        ASSERT_GE(y, last) << x << ": it never folds back";
        ASSERT_FLOAT_EQ(softLimit(-x), -y);
        if (x <= knee) {
            ASSERT_FLOAT_EQ(y, x) << "below the knee the mix passes untouched";
        } else if (x > knee + 0.01f) {
            ASSERT_LT(y, x) << "past the knee it bends";
        }
        last = y;
    }
    EXPECT_GT(softLimit(40.0f), ceiling - 0.001f) << "and comes as close to the ceiling as it may";
    EXPECT_EQ(softLimit(NAN), 0.0f);
    EXPECT_EQ(softLimit(INFINITY), 0.0f);
    EXPECT_EQ(softLimit(-INFINITY), 0.0f);
}

namespace {

class ConstantSource : public AudioSource {
public:
    explicit ConstantSource(float v) : value(v) { }
    void render(float* out, int frames) override
    {
        for (int i = 0; i < frames * 2; ++i)
            out[i] += value;
    }
    bool active() const override { return on; }
    float value;
    bool on = false;
};

} // namespace

TEST(Mixer, SumsAtEachSourcesGainLimitsAndCountsFrames)
{
    ConstantSource music(0.6f);
    ConstantSource effect(0.7f);
    Mixer mixer({{&music, 0.5f}, {&effect, 1.0f}});
    std::vector<float> out(3000 * 2, 123.0f);
    mixer.render(out.data(), 3000); // longer than the mixer's own pieces
    EXPECT_FLOAT_EQ(out[0], softLimit(1.0f)) << "0.3 + 0.7 bends below full scale";
    EXPECT_FLOAT_EQ(out.back(), softLimit(1.0f));
    EXPECT_FALSE(mixer.active());
    effect.on = true;
    EXPECT_TRUE(mixer.active());

    const struct {
        float a, b, expected;
    } cases[] = {{0.2f, 0.3f, 0.4f}, {-0.9f, -0.9f, softLimit(-1.35f)}, {NAN, 0.1f, 0.0f}, {INFINITY, 0.0f, 0.0f}};
    for (const auto& c : cases) {
        music.value = c.a;
        effect.value = c.b;
        mixer.render(out.data(), 3);
        EXPECT_FLOAT_EQ(out[0], c.expected) << c.a << " + " << c.b;
        EXPECT_FLOAT_EQ(out[5], c.expected);
    }
    EXPECT_EQ(mixer.framesMixed(), 3000u + 3 * 4);
    mixer.render(out.data(), 0);
    EXPECT_EQ(mixer.framesMixed(), 3000u + 3 * 4);
}

TEST(Mixer, RecordsWhereAnEffectsFirstSampleLeftTheMixer)
{
    OddTempDir dir;
    const auto path = dir.file("spin.dat").string();
    writeFile(path, levelWav(700, 8192));
    EffectPlayer effects;
    ConstantSource music(0.0f);
    Mixer mixer({{&music, 1.0f}, {&effects, 0.5f}});
    effects.setStartObserver([&](int offset) { mixer.noteEffectStart(offset); });
    bench::MixerClock clock(mixer);

    std::vector<float> out(1500 * 2);
    mixer.render(out.data(), 300);
    EXPECT_EQ(mixer.effectStarts(), 0u);
    ASSERT_TRUE(effects.play(path, kGameFlags));
    EXPECT_LE(clock.now(), 300.0) << "the clock never runs past the end of the last block";
    mixer.render(out.data(), 512);
    EXPECT_EQ(mixer.effectStarts(), 1u);
    EXPECT_EQ(clock.lastEffectStartFrame(), 300u);
    EXPECT_FLOAT_EQ(out[200 * 2], 0.5f * 0.25f);
    mixer.render(out.data(), 1500);
    EXPECT_EQ(mixer.effectStarts(), 1u);
    EXPECT_EQ(mixer.framesMixed(), 300u + 512 + 1500);
}
