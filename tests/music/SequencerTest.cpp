// SPDX-License-Identifier: GPL-3.0-or-later

#include "Sequencer.h"
#include "MidiBytes.h"
#include "MidiFile.h"
#include "SynthHost.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <future>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

// A synthesiser that only writes down what it is told and when, on the frames it has
// rendered, and renders a constant so tests can see where sound went.
class FakeSynth : public sound::SynthEngine {
public:
    struct Call {
        std::int64_t frame;
        std::string what;
        int status = 0;
    };

    void channelMessage(std::uint8_t status, std::uint8_t, std::uint8_t) override
    {
        calls.push_back({frames, "message", status});
    }
    void sysex(const std::uint8_t*, std::size_t) override { calls.push_back({frames, "sysex"}); }
    void soundOff() override { calls.push_back({frames, "soundOff"}); }
    void releaseAll() override { calls.push_back({frames, "releaseAll"}); }
    void reset() override { calls.push_back({frames, "reset"}); }
    bool sounding() override { return false; }
    void renderAdd(float* out, int n) override
    {
        for (int i = 0; i < 2 * n; ++i)
            out[i] += 1.0f;
        frames += n;
    }
    bool prepare(const sound::MidiSequence& tune) override
    {
        prepared.push_back(tune);
        std::this_thread::sleep_for(prepareTakes);
        return true;
    }

    std::vector<std::int64_t> framesOf(const std::string& what) const
    {
        std::vector<std::int64_t> f;
        for (const Call& c : calls) {
            if (c.what == what)
                f.push_back(c.frame);
        }
        return f;
    }

    std::int64_t frames = 0;
    std::vector<Call> calls;
    std::vector<sound::MidiSequence> prepared;
    std::chrono::milliseconds prepareTakes{0};
};

// Four notes a quarter second apart, each held 125 ms, then the end one second in.
std::shared_ptr<const sound::MidiSequence> fourNotes()
{
    music_test::Track t;
    t.event(0, {0xC0, 5});
    for (int i = 0; i < 4; ++i)
        t.event(i == 0 ? 0 : 120, {0x90, 60, 100}).event(120, {0x80, 60, 0});
    t.end(120);
    auto s = sound::parseMidi(music_test::smf(0, 480, {t}));
    return std::make_shared<const sound::MidiSequence>(std::move(*s));
}

class SequencerTest : public ::testing::Test {
protected:
    SequencerTest() : host([this] { return std::shared_ptr<sound::SynthEngine>(synth); })
    {
        EXPECT_TRUE(host.waitUntilIdle(5s));
    }

    // Renders in odd-sized blocks until the sequencer stops by itself; returns frames rendered.
    std::int64_t renderUntilStopped(int block = 333, std::int64_t limit = 10 * 48000)
    {
        std::vector<float> out(2 * static_cast<std::size_t>(block));
        std::int64_t rendered = 0;
        while (sequencer.playing() && rendered < limit) {
            sequencer.render(out.data(), block);
            rendered += block;
        }
        return rendered;
    }

    void open()
    {
        const auto tune = fourNotes();
        sequencer.load(tune);
        ASSERT_TRUE(host.waitUntilIdle(5s));
    }

    std::shared_ptr<FakeSynth> synth = std::make_shared<FakeSynth>();
    sound::SynthHost host;
    sound::Sequencer sequencer{host};
};

TEST_F(SequencerTest, SendsEveryEventOnItsSampleAndStopsAtTheEnd)
{
    open();
    EXPECT_FALSE(sequencer.playing());
    sequencer.play();
    const std::int64_t rendered = renderUntilStopped();

    EXPECT_EQ(synth->framesOf("message"),
              (std::vector<std::int64_t>{0, 0, 6000, 12000, 18000, 24000, 30000, 36000, 42000}));
    EXPECT_EQ(synth->framesOf("releaseAll"), (std::vector<std::int64_t>{48000}));
    // Seen as stopped at the end of the block that reached the tune's end.
    EXPECT_GE(rendered, 48000);
    EXPECT_LT(rendered, 48000 + 333);
    EXPECT_EQ(synth->framesOf("reset").size(), 1u);
    EXPECT_EQ(synth->prepared.back(), *fourNotes());
}

TEST_F(SequencerTest, StopSilencesAndKeepsThePositionPlayResumes)
{
    open();
    sequencer.play();
    std::vector<float> out(2 * 10000);
    sequencer.render(out.data(), 10000);
    sequencer.stop();
    EXPECT_FALSE(sequencer.playing());

    // Stopped: the block after the stop is silent and nothing moves.
    std::fill(out.begin(), out.end(), 0.0f);
    sequencer.render(out.data(), 10000);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == 0.0f; }));
    EXPECT_EQ(sequencer.position(), 10000);
    EXPECT_EQ(synth->framesOf("soundOff"), (std::vector<std::int64_t>{10000}));

    sequencer.play();
    const std::int64_t rest = renderUntilStopped(500);
    EXPECT_GE(rest, 38000);
    EXPECT_LT(rest, 38000 + 500);
    // The notes after the pause come exactly where they belong in the tune.
    EXPECT_EQ(synth->framesOf("message").back(), 42000);
}

TEST_F(SequencerTest, ReopeningStartsOverAndAStaleEndDoesNotStopANewPlay)
{
    open();
    sequencer.play();
    renderUntilStopped();
    EXPECT_FALSE(sequencer.playing());

    // Played again at its end, the tune ends again at once.
    sequencer.play();
    EXPECT_TRUE(sequencer.playing());
    renderUntilStopped(64);
    EXPECT_FALSE(sequencer.playing());

    const std::int64_t before = synth->frames;
    open();
    sequencer.play();
    const std::int64_t again = renderUntilStopped(1024);
    EXPECT_GE(again, 48000);
    EXPECT_EQ(synth->framesOf("reset").size(), 2u);
    EXPECT_EQ(synth->framesOf("message")[9], before);
}

// The game loops its tune by opening it again at its end: with its instruments already in, the
// tune starts again in the very next block, however slow the loader would be.
TEST_F(SequencerTest, ATuneOpenedAgainStartsWithoutWaitingForTheLoader)
{
    open();
    sequencer.play();
    renderUntilStopped();
    synth->prepareTakes = 2s;
    sequencer.load(fourNotes());
    sequencer.play();
    std::vector<float> out(2 * 512);
    sequencer.render(out.data(), 512);
    EXPECT_EQ(sequencer.position(), 512);
    EXPECT_EQ(synth->prepared.size(), 1u);

    // Another tune does wait for the loader.
    synth->prepareTakes = 0ms;
    music_test::Track t;
    t.event(0, {0xC0, 7}).event(0, {0x90, 60, 100}).end(480);
    const auto other = std::make_shared<const sound::MidiSequence>(*sound::parseMidi(music_test::smf(0, 480, {t})));
    sequencer.load(other);
    ASSERT_TRUE(host.waitUntilIdle(5s));
    EXPECT_EQ(synth->prepared.back(), *other);
}

TEST_F(SequencerTest, WaitsWhileTheSynthesiserIsBusy)
{
    open();
    sequencer.play();
    std::vector<float> out(2 * 512);
    {
        // The loader holds the synthesiser: the audio thread must skip, not wait.
        std::lock_guard busy(synth->mutex());
        auto skipped = std::async(std::launch::async, [&] { sequencer.render(out.data(), 512); });
        ASSERT_EQ(skipped.wait_for(2s), std::future_status::ready);
    }
    EXPECT_EQ(sequencer.position(), 0);
    sequencer.render(out.data(), 512);
    EXPECT_EQ(sequencer.position(), 512);
}

TEST(SequencerLoading, MusicWaitsForTheSoundFontAndThenStartsFromTheBeginning)
{
    std::promise<void> release;
    auto released = release.get_future().share();
    auto synth = std::make_shared<FakeSynth>();
    sound::SynthHost host([&] {
        released.wait();
        return std::shared_ptr<sound::SynthEngine>(synth);
    });
    sound::Sequencer sequencer(host);
    const auto tune = fourNotes();
    sequencer.load(tune);
    sequencer.play();

    std::vector<float> out(2 * 4800);
    for (int i = 0; i < 5; ++i)
        sequencer.render(out.data(), 4800);
    EXPECT_EQ(sequencer.position(), 0);
    EXPECT_TRUE(sequencer.playing());

    release.set_value();
    ASSERT_TRUE(host.waitUntilIdle(5s));
    sequencer.render(out.data(), 4800);
    EXPECT_EQ(sequencer.position(), 4800);
    EXPECT_EQ(synth->framesOf("message").front(), 0);
}

// A player who chooses Start waits for the tune's instruments (an SF3 font decodes them for a
// second or more): on a busy machine they must get the CPU any thread of the program gets, not
// only what other programs leave over.
TEST(SequencerLoading, TheTunesInstrumentsAreReadAtTheProgramsOwnPriority)
{
    struct PrioritySynth : FakeSynth {
        bool prepare(const sound::MidiSequence& tune) override
        {
            nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
            return FakeSynth::prepare(tune);
        }
        int nice = -100;
    };
    const int ours = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    auto synth = std::make_shared<PrioritySynth>();
    sound::SynthHost host([&] {
        sound::SynthHost::yieldToOthers(); // as the game's loader does once FluidSynth is open
        return std::shared_ptr<sound::SynthEngine>(synth);
    });
    sound::Sequencer sequencer(host);
    sequencer.load(fourNotes());
    ASSERT_TRUE(host.waitUntilIdle(5s));
    ASSERT_EQ(synth->prepared.size(), 1u);
    EXPECT_EQ(synth->nice, ours);
}

TEST(SequencerLoading, WithoutASynthesiserTheTuneStillRunsItsCourseInSilence)
{
    sound::SynthHost host{sound::SynthHost::Loader()};
    sound::Sequencer sequencer(host);
    sequencer.load(fourNotes());
    sequencer.play();
    std::vector<float> out(2 * 480, 0.0f);
    std::int64_t rendered = 0;
    while (sequencer.playing() && rendered < 96000) {
        sequencer.render(out.data(), 480);
        rendered += 480;
    }
    EXPECT_EQ(rendered, 48000);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == 0.0f; }));
}

} // namespace
