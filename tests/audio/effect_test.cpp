#include "EffectPlayer.h"
#include "Mixer.h"
#include "MixerClock.h"
#include "SoundPlatform.h"
#include "WavBytes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <future>
#include <thread>

using namespace sound;
using namespace wavtest;

namespace {

constexpr std::uint32_t kGameFlags = SoundFlag::Async | SoundFlag::NoDefault | SoundFlag::NoStop; // 19
constexpr std::uint32_t kLoopFlags = kGameFlags | static_cast<std::uint32_t>(SoundFlag::Loop); // 27
constexpr std::uint32_t kInterrupt = SoundFlag::Async | SoundFlag::NoDefault; // 3
constexpr std::uint32_t kSync = 0;

// Two effects of known length and level at the output rate, so that every rendered frame can
// be told apart: A is 1000 frames at 0.25, B 300 frames at 0.5 (before the player's gain).
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

    static float level(float raw) { return EffectPlayer::kGain * raw; }

    OddTempDir dir;
    std::string a;
    std::string b;
    std::string missing = "/nonexistent folder/zaku.dat";
    EffectPlayer player;
};

} // namespace

TEST_F(EffectPlayerTest, RefusesWhileSoundingAndAcceptsRightAfterTheLastSample)
{
    ASSERT_TRUE(player.play(a, kGameFlags));
    auto out = pull(999);
    EXPECT_FLOAT_EQ(out.front(), level(0.25f));
    EXPECT_FLOAT_EQ(out.back(), level(0.25f));
    EXPECT_TRUE(player.active());
    EXPECT_FALSE(player.play(b, kGameFlags)) << "one sample of A is still to be mixed";
    EXPECT_FALSE(player.play(a, kLoopFlags));

    out = pull(2);
    EXPECT_FLOAT_EQ(out[0], level(0.25f)) << "A plays to its end, the refused B is not mixed in";
    EXPECT_FLOAT_EQ(out[2], 0.0f) << "and B was not queued either";
    EXPECT_FALSE(player.active());

    ASSERT_TRUE(player.play(b, kGameFlags));
    out = pull(300);
    EXPECT_FLOAT_EQ(out.front(), level(0.5f));
    EXPECT_FLOAT_EQ(out.back(), level(0.5f));
    EXPECT_FALSE(player.active());
    EXPECT_TRUE(player.play(b, kGameFlags));
}

TEST_F(EffectPlayerTest, LoopRepeatsUntilAnInterruptingRequestReplacesIt)
{
    ASSERT_TRUE(player.play(b, kLoopFlags));
    const auto out = pull(300 * 7 + 13);
    for (std::size_t i = 0; i < out.size(); ++i)
        ASSERT_FLOAT_EQ(out[i], level(0.5f)) << "sample " << i;
    EXPECT_TRUE(player.active());
    EXPECT_FALSE(player.play(a, kGameFlags)) << "a no-stop request never interrupts the loop";

    ASSERT_TRUE(player.play(a, kInterrupt));
    auto after = pull(1001);
    EXPECT_FLOAT_EQ(after[0], level(0.25f)) << "A starts from its beginning at once";
    EXPECT_FLOAT_EQ(after[999 * 2], level(0.25f));
    EXPECT_FLOAT_EQ(after[1000 * 2], 0.0f) << "the replacement does not loop";
    EXPECT_FALSE(player.active());
}

TEST_F(EffectPlayerTest, SyncCutsOffTheSoundingEffectAndReturnsOnlyAtItsEnd)
{
    ASSERT_TRUE(player.play(a, kLoopFlags));
    pull(100);
    auto done = std::async(std::launch::async, [&] { return player.play(b, kSync); });
    // Wait until the synchronous request has replaced the loop: B's level appears.
    std::vector<float> block;
    for (int i = 0; i < 2000; ++i) {
        block = pull(1);
        if (block[0] == level(0.5f))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_FLOAT_EQ(block[0], level(0.5f));
    int rendered = 1;
    while (player.active()) {
        EXPECT_EQ(done.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
            << "returned while B still sounds, after " << rendered << " frames";
        block = pull(50);
        rendered += 50;
        ASSERT_LT(rendered, 1000);
    }
    EXPECT_EQ(rendered, 301) << "B played from its start to its end, once";
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(done.get());
}

TEST_F(EffectPlayerTest, UnplayableFilesAreSilentWithNoDefault)
{
    OddTempDir other;
    const auto garbage = other.file("garbage.dat");
    writeFile(garbage, Bytes(3000, 0x5A));
    for (const std::string& path : {missing, garbage.string(), other.path().string(), std::string()}) {
        SCOPED_TRACE(path);
        for (std::uint32_t flags : {kGameFlags, kLoopFlags, kInterrupt}) {
            EXPECT_FALSE(player.play(path, flags));
            EXPECT_FALSE(player.active());
            const auto out = pull(2000);
            EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == 0.0f; }));
        }
    }
}

TEST_F(EffectPlayerTest, WithoutNoDefaultTheBuiltInBeepStandsIn)
{
    const auto beep = EffectPlayer::defaultSound();
    ASSERT_GT(beep->frames(), 0u);
    for (const std::string& path : {missing, std::string()}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(player.play(path, static_cast<std::uint32_t>(SoundFlag::Async))) << "the file itself did not play";
        EXPECT_TRUE(player.active());
        const auto out = pull(static_cast<int>(beep->frames()) + 10);
        for (std::size_t i = 0; i < beep->samples.size(); ++i)
            ASSERT_FLOAT_EQ(out[i], EffectPlayer::kGain * beep->samples[i]) << i;
        EXPECT_FLOAT_EQ(out.back(), 0.0f);
        EXPECT_FALSE(player.active());
    }

    // Synchronous, as a mode other than 0 and 1 asks: the caller waits out the beep.
    auto done = std::async(std::launch::async, [&] { return player.play(missing, kSync); });
    while (done.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
        pull(256);
    EXPECT_FALSE(done.get());
    EXPECT_FALSE(player.active());
}

TEST_F(EffectPlayerTest, AFailedInterruptingRequestStillStopsTheSoundingEffect)
{
    ASSERT_TRUE(player.play(a, kLoopFlags));
    pull(10);
    EXPECT_FALSE(player.play(missing, kInterrupt));
    EXPECT_FALSE(player.active());
    const auto out = pull(100);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == 0.0f; }));
}

TEST_F(EffectPlayerTest, WithoutAnOutputAnEffectSoundsForItsRealTimeLength)
{
    // Nothing renders (no audio device): the request is refused for as long as the sound
    // would last, then accepted; a synchronous request waits that long and no longer.
    player.setRenderingProbe([] { return false; });
    const std::string tenth = dir.file("tenth.dat").string();
    writeFile(tenth, levelWav(4800, 1000)); // 100 ms

    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(player.play(tenth, kGameFlags));
    EXPECT_FALSE(player.play(b, kGameFlags));
    while (!player.play(b, kGameFlags))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));

    const auto syncStart = std::chrono::steady_clock::now();
    EXPECT_TRUE(player.play(tenth, kSync)) << "must return, not wait for a device that is not there";
    EXPECT_GE(std::chrono::steady_clock::now() - syncStart, std::chrono::milliseconds(100));
    EXPECT_FALSE(player.active());
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

TEST(Mixer, SumsLimitsAndCountsFrames)
{
    ConstantSource music(0.6f);
    ConstantSource effect(0.7f);
    Mixer mixer({&music, &effect});
    std::vector<float> out(512 * 2, 123.0f);
    mixer.render(out.data(), 512);
    EXPECT_FLOAT_EQ(out[0], 1.0f) << "0.6 + 0.7 is limited to full scale";
    EXPECT_FALSE(mixer.active());
    effect.on = true;
    EXPECT_TRUE(mixer.active());

    const struct {
        float a, b, expected;
    } cases[] = {{0.2f, 0.3f, 0.5f}, {-0.9f, -0.9f, -1.0f}, {NAN, 0.1f, 0.0f}, {INFINITY, 0.0f, 0.0f}};
    for (const auto& c : cases) {
        music.value = c.a;
        effect.value = c.b;
        mixer.render(out.data(), 3);
        EXPECT_FLOAT_EQ(out[0], c.expected) << c.a << " + " << c.b;
        EXPECT_FLOAT_EQ(out[5], c.expected);
    }
    EXPECT_EQ(mixer.framesMixed(), 512u + 3 * 4);
    mixer.render(out.data(), 0);
    EXPECT_EQ(mixer.framesMixed(), 512u + 3 * 4);
}

TEST(Mixer, RecordsWhereAnEffectsFirstSampleLeftTheMixer)
{
    OddTempDir dir;
    const auto path = dir.file("spin.dat").string();
    writeFile(path, levelWav(700, 8192));
    EffectPlayer effects;
    ConstantSource music(0.0f);
    Mixer mixer({&music, &effects});
    effects.setStartObserver([&](int offset) { mixer.noteEffectStart(offset); });
    bench::MixerClock clock(mixer);

    std::vector<float> out(512 * 2);
    mixer.render(out.data(), 300);
    EXPECT_EQ(mixer.effectStarts(), 0u);
    ASSERT_TRUE(effects.play(path, kGameFlags));
    EXPECT_LE(clock.now(), 300.0) << "the clock never runs past the end of the last block";
    mixer.render(out.data(), 512);
    EXPECT_EQ(mixer.effectStarts(), 1u);
    EXPECT_EQ(clock.lastEffectStartFrame(), 300u);
    EXPECT_FLOAT_EQ(out[0], EffectPlayer::kGain * 0.25f);
    mixer.render(out.data(), 512);
    EXPECT_EQ(mixer.effectStarts(), 1u);
    EXPECT_EQ(mixer.framesMixed(), 300u + 512 + 512);
}
