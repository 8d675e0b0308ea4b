// SPDX-License-Identifier: GPL-3.0-or-later

#include "MusicChannel.h"
#include "../support/SkipUnlessCi.h"
#include "MidiBytes.h"
#include "SynthHost.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr int kBlock = 512;

double rms(const std::vector<float>& v)
{
    double sum = 0;
    for (float x : v)
        sum += double{x} * x;
    return v.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(v.size()));
}

// The smallest General MIDI font on the system keeps the tests quick; any will do.
std::optional<std::string> testSoundFont()
{
    static constexpr std::string_view places[] = {"/usr/share/sounds/sf2/TimGM6mb.sf2"};
    if (auto small = sound::findSoundFont(places))
        return small;
    return sound::findSoundFont();
}

class MusicChannelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        font = testSoundFont();
        if (!font)
            SKIP_UNLESS_CI("no General MIDI SoundFont installed");
        channel.emplace(font);
        ASSERT_TRUE(channel->waitUntilReady(30s));
        ASSERT_TRUE(channel->hasSynth());
        tune = scratch.write("bgm.dat", music_test::tune(1000, 0));
    }

    void send(const std::string& command) { ASSERT_EQ(channel->send(command, nullptr, 0), 0u) << command; }

    void open()
    {
        send("open " + tune + " type sequencer alias midifile");
        ASSERT_TRUE(channel->waitUntilReady(30s));
    }

    std::string mode()
    {
        char reply[16] = {};
        channel->send("status midifile mode", reply, 15);
        return reply;
    }

    std::vector<float> render(std::int64_t frames)
    {
        std::vector<float> out(2 * static_cast<std::size_t>(frames), 0.0f);
        for (std::int64_t at = 0; at < frames; at += kBlock)
            channel->render(out.data() + 2 * at, static_cast<int>(std::min<std::int64_t>(kBlock, frames - at)));
        return out;
    }

    // Frames rendered, in blocks, until the device reads "stopped".
    std::int64_t framesUntilStopped()
    {
        std::int64_t frames = 0;
        std::vector<float> out(2 * kBlock);
        while (mode() == "playing" && frames < 10 * 48000) {
            channel->render(out.data(), kBlock);
            frames += kBlock;
        }
        return frames;
    }

    std::optional<std::string> font;
    music_test::ScratchDir scratch;
    std::string tune;
    std::optional<sound::MusicChannel> channel;
};

TEST_F(MusicChannelTest, PlaysAudiblyAndStopsDead)
{
    open();
    EXPECT_LT(rms(render(4800)), 1e-6) << "sound before play";
    send("play midifile");
    EXPECT_GT(rms(render(12000)), 1e-3);
    send("stop midifile");
    EXPECT_EQ(mode(), "stopped") << "at once, while the music still fades";
    // A stop fades out over a few milliseconds rather than step to silence; after that, nothing.
    render(384); // 8 ms
    EXPECT_LT(rms(render(4800)), 1e-6) << "sound after stop";
    EXPECT_FALSE(channel->active());
}

// The synthesiser starts with no instrument on any channel, so that a font's piano and drum kit
// are read only for tunes that play them: a channel that plays before any program change must
// still sound, as on any General MIDI synthesiser, also after a tune that chose others.
TEST_F(MusicChannelTest, ChannelsWithoutAProgramChangePlayThePowerOnInstrument)
{
    using music_test::Track;
    struct Case {
        const char* what;
        Track track;
    };
    std::vector<Case> cases;
    cases.push_back({"piano", Track().event(0, {0x90, 60, 100}).event(960, {0x80, 60, 0})});
    cases.push_back({"drum kit", Track().event(0, {0x99, 38, 120}).event(960, {0x89, 38, 0})});
    cases.push_back(
        {"after a bank select", Track().event(0, {0xB1, 0, 8}).event(0, {0x91, 60, 100}).event(960, {0x81, 60, 0})});
    cases.push_back({"after a reset by system exclusive", Track()
                                                              .event(0, {0xC2, 40})
                                                              .event(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7})
                                                              .event(0, {0x92, 60, 100})
                                                              .event(960, {0x82, 60, 0})});
    int n = 0;
    for (Case& c : cases) {
        c.track.end(0);
        // Each after the 1 s tune on program 0 of the fixture, played and closed.
        tune = scratch.write("bgm.dat", music_test::tune(1000, 73));
        open();
        send("play midifile");
        render(4800);
        send("close midifile");
        tune = scratch.write("user" + std::to_string(n++) + ".mid", music_test::smf(0, 480, {c.track}));
        open();
        send("play midifile");
        EXPECT_GT(rms(render(12000)), 1e-3) << c.what;
        send("close midifile");
    }
}

TEST_F(MusicChannelTest, ResumesWhereItStoppedAndEndsOnTime)
{
    open();
    send("play midifile");
    render(19200); // 0.4 s
    send("stop midifile");
    render(9600);
    send("play midifile");
    const std::int64_t rest = framesUntilStopped();
    // 0.6 s were left; "stopped" is read within a block of the end, well inside 50 ms.
    EXPECT_GE(rest, 28800);
    EXPECT_LE(rest, 28800 + kBlock);
}

TEST_F(MusicChannelTest, RestartsFromTheBeginningAfterTheEnd)
{
    open();
    send("play midifile");
    const std::int64_t first = framesUntilStopped();
    EXPECT_GE(first, 48000);
    EXPECT_LE(first, 48000 + kBlock);
    EXPECT_EQ(mode(), "stopped");

    // The game's poll: close, stop, close, open, STOP, play. The tune opened again has its
    // instruments in already: it sounds in the very next block, without waiting for the loader.
    EXPECT_EQ(channel->send("close midifile", nullptr, 0), 0u);
    channel->send("stop midifile ", nullptr, 0);
    channel->send("close midifile", nullptr, 0);
    send("open " + tune + " type sequencer alias midifile");
    send("STOP MIDIFILE ");
    send("play midifile");
    EXPECT_EQ(mode(), "playing");
    EXPECT_GT(rms(render(kBlock)), 1e-3);
    const std::int64_t second = framesUntilStopped();
    EXPECT_GE(second + kBlock, 48000);
    EXPECT_LE(second + kBlock, 48000 + 2 * kBlock);
}

TEST_F(MusicChannelTest, ReleasedNotesRingOutAfterTheEndWhileActive)
{
    open();
    send("play midifile");
    framesUntilStopped();
    EXPECT_EQ(mode(), "stopped");
    // The last note's release still sounds; the output must keep running meanwhile.
    EXPECT_GT(rms(render(kBlock)), 1e-5);
    EXPECT_TRUE(channel->active());
    render(5 * 48000);
    EXPECT_FALSE(channel->active());
}

// A player who chooses Start waits for the tune's instruments (an SF3 font decodes them for a
// second or more): the loader thread gives way to the window whenever it wakes (a batch thread),
// yet gets the CPU any thread of the program gets, not only what other programs leave over.
TEST_F(MusicChannelTest, TheLoaderIsABatchThreadAtTheProgramsOwnPriority)
{
    int batchThreads = 0;
    const int ours = getpriority(PRIO_PROCESS, 0);
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream file(task.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::istringstream fields(stat.substr(stat.rfind(')') + 2)); // after the name: field 3 on
        std::vector<std::string> f{"", "", ""};
        for (std::string field; fields >> field;)
            f.push_back(field);
        if (f.size() > 41 && std::stoi(f[41]) == SCHED_BATCH) {
            ++batchThreads;
            EXPECT_EQ(std::stoi(f[19]), ours) << "nice";
        }
    }
    // FluidSynth starts threads of its own from it, which inherit its policy.
    EXPECT_GE(batchThreads, 1);
}

// The audio thread renders without pause while the UI thread opens, plays, stops and closes
// over and over: every command must keep its answer, and neither side may hang the other.
TEST_F(MusicChannelTest, CommandsAndRenderingRunSideBySide)
{
    std::atomic<bool> done{false};
    std::thread audio([&] {
        std::vector<float> out(2 * 256);
        while (!done.load())
            channel->render(out.data(), 256);
    });
    const std::string openCommand = "open " + tune + " type sequencer alias midifile";
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(channel->send(openCommand, nullptr, 0), 0u);
        EXPECT_EQ(channel->send("play midifile", nullptr, 0), 0u);
        const std::string m = mode();
        EXPECT_TRUE(m == "playing" || m == "stopped") << m;
        if (i % 3 == 0)
            std::this_thread::sleep_for(1ms);
        EXPECT_EQ(channel->send("STOP MIDIFILE ", nullptr, 0), 0u);
        EXPECT_EQ(mode(), "stopped");
        EXPECT_EQ(channel->send("close midifile", nullptr, 0), 0u);
    }
    done = true;
    audio.join();
}

// The program makes its channel this way and says go once its window is on screen. Until then
// nothing may load, yet the game's open and an early play must already work: the tune waits and
// then starts from its beginning.
TEST(MusicChannelStartedLater, LoadsNothingUntilToldThenPlaysWhatWasAsked)
{
    const std::optional<std::string> font = testSoundFont();
    if (!font)
        SKIP_UNLESS_CI("no General MIDI SoundFont installed");
    music_test::ScratchDir scratch;
    const std::string tune = scratch.write("bgm.dat", music_test::tune(1000, 0));

    sound::MusicChannel channel(font, sound::MusicChannel::Start::WhenTold);
    ASSERT_EQ(channel.send("open " + tune + " type sequencer alias midifile", nullptr, 0), 0u);
    ASSERT_EQ(channel.send("play midifile", nullptr, 0), 0u);
    char reply[16] = {};
    channel.send("status midifile mode", reply, 15);
    EXPECT_STREQ(reply, "playing");
    EXPECT_TRUE(channel.active()) << "the output must keep pulling while the tune waits";

    std::vector<float> out(2 * 48000, 0.0f);
    for (int at = 0; at < 48000; at += kBlock)
        channel.render(out.data() + 2 * at, kBlock);
    EXPECT_LT(rms(out), 1e-9);
    EXPECT_FALSE(channel.waitUntilReady(100ms));
    EXPECT_FALSE(channel.hasSynth());

    channel.startLoading();
    channel.startLoading(); // a second go changes nothing
    ASSERT_TRUE(channel.waitUntilReady(30s));
    ASSERT_TRUE(channel.hasSynth());

    // The whole second of the tune is still to come, however long it waited.
    std::int64_t frames = 0;
    double loud = 0;
    while (frames < 3 * 48000) {
        std::fill(out.begin(), out.begin() + 2 * kBlock, 0.0f);
        channel.render(out.data(), kBlock);
        frames += kBlock;
        loud = std::max(loud, rms(std::vector<float>(out.begin(), out.begin() + 2 * kBlock)));
        channel.send("status midifile mode", reply, 15);
        if (std::string(reply) != "playing")
            break;
    }
    EXPECT_GT(loud, 1e-3);
    EXPECT_GE(frames, 48000);
    EXPECT_LE(frames, 48000 + 2 * kBlock);
}

TEST(MusicChannelWithoutSoundFont, FollowsEveryRuleInSilence)
{
    music_test::ScratchDir scratch;
    const std::string tune = scratch.write("bgm.dat", music_test::tune(500));
    for (const std::optional<std::string>& font :
         {std::optional<std::string>{}, std::optional<std::string>{(scratch.dir / "no.sf2").string()},
          std::optional<std::string>{tune}}) {
        sound::MusicChannel channel(font);
        ASSERT_TRUE(channel.waitUntilReady(30s));
        EXPECT_FALSE(channel.hasSynth());
        ASSERT_EQ(channel.send("open " + tune + " type sequencer alias midifile", nullptr, 0), 0u);
        ASSERT_EQ(channel.send("play midifile", nullptr, 0), 0u);
        char reply[16] = {};
        channel.send("status midifile mode", reply, 15);
        EXPECT_STREQ(reply, "playing");

        std::vector<float> out(2 * 480, 0.0f);
        int blocks = 0;
        for (; blocks < 100 && channel.active(); ++blocks)
            channel.render(out.data(), 480);
        EXPECT_EQ(blocks, 50);
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == 0.0f; }));
        channel.send("status midifile mode", reply, 15);
        EXPECT_STREQ(reply, "stopped");
    }
}

} // namespace
