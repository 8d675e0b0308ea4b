// SPDX-License-Identifier: GPL-3.0-or-later

// The output's schedule on a device that the test pulls block by block and a clock that it
// moves by hand: no thread, no sleep, the same result on every run.

#include "AudioEngine.h"
#include "MidiBytes.h"
#include "SoundFontSearch.h"
#include "WavBytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace sound;
using namespace std::chrono_literals;

namespace {

constexpr int kBlock = 480; // 10 ms at 48000 Hz

// A sound server's device: it opens while the server is up and goes away when the server dies.
// A hung server (or PipeWire's driver, which does not notice a dead one) just stops pulling.
class HandDevice : public OutputDevice {
public:
    bool serverUp = true;
    bool pulling = true;

    void preload() override { }
    std::optional<Opened> open(Pull pull, void* user) override
    {
        if (!serverUp)
            return std::nullopt;
        pull_ = pull;
        user_ = user;
        open_ = true;
        paused_ = false;
        return Opened{kBlock, "hand"};
    }
    void pause(bool paused) override { paused_ = paused; }
    bool lost() override { return open_ && !serverUp; }
    void close(Close) override { open_ = false; }

    // One block, as the device's own thread asks for it.
    void pullBlock()
    {
        if (open_ && !paused_ && serverUp && pulling)
            pull_(user_, block_.data(), kBlock);
    }

private:
    Pull pull_ = nullptr;
    void* user_ = nullptr;
    bool open_ = false;
    bool paused_ = false;
    std::vector<float> block_ = std::vector<float>(2 * kBlock);
};

class OutputTest : public ::testing::Test {
protected:
    OutputTest()
    {
        auto hand = std::make_unique<HandDevice>();
        device = hand.get();
        SdlOutput::Manual manual{std::move(hand), [this] { return now; }};
        // With a SoundFont a stopped tune's notes still ring until the device fades them; without
        // one the tune plays silently on the same sample clock.
        static constexpr std::string_view small[] = {"/usr/share/sounds/sf2/TimGM6mb.sf2"};
        engine = std::make_unique<AudioEngine>(std::make_unique<MusicChannel>(findSoundFont(small)),
                                               SdlOutput::Options{}, std::move(manual));
        output = engine->output();
        tune = dir.file("bgm.dat").string();
        wavtest::writeFile(tune, music_test::tune(2000));
    }

    void send(const std::string& command) { engine->mciSendString(command, nullptr, 0); }
    std::string mode()
    {
        char reply[16] = {};
        engine->mciSendString("status midifile mode", reply, 15);
        return reply;
    }
    void startTune()
    {
        send("open " + tune + " type sequencer alias midifile");
        ASSERT_TRUE(engine->music().waitUntilReady(30s));
        send("play midifile");
        output->runDue();
    }

    // Time goes on in 10 ms blocks: the device pulls one if it can, then the output looks.
    void run(std::chrono::milliseconds span)
    {
        for (auto t = 0ms; t < span; t += 10ms) {
            device->pullBlock();
            now += 10ms;
            output->runDue();
        }
    }

    wavtest::OddTempDir dir;
    std::string tune;
    SdlOutput::Clock::time_point now{};
    HandDevice* device = nullptr;
    std::unique_ptr<AudioEngine> engine;
    SdlOutput* output = nullptr;
};

} // namespace

TEST_F(OutputTest, ATuneThatLostItsServerComesBackByItselfWhereItWasCut)
{
    startTune();
    ASSERT_EQ(output->state(), SdlOutput::State::Running);
    run(500ms);

    device->serverUp = false;
    run(10ms);
    EXPECT_EQ(output->losses(), 1);
    EXPECT_EQ(output->state(), SdlOutput::State::Failed) << "tried again at once, and failed";
    EXPECT_EQ(output->openAttempts(), 2);
    // No press, no Start: the playing tune asks for the device every half a second on its own.
    run(3000ms);
    EXPECT_EQ(output->openAttempts(), 2 + 6);
    EXPECT_EQ(mode(), "playing");

    device->serverUp = true;
    run(500ms);
    EXPECT_EQ(output->state(), SdlOutput::State::Running) << "back within one retry once the server is";
    // Half a second was heard before the loss: the rest of the tune follows, none of it skipped
    // for the outage and none of it played twice.
    run(1450ms);
    EXPECT_EQ(mode(), "playing");
    run(100ms);
    EXPECT_EQ(mode(), "stopped");
}

TEST_F(OutputTest, ATuneStoppedOrClosedDuringTheOutageLeavesTheDeviceClosed)
{
    for (const std::string command : {"stop midifile", "close midifile"}) {
        SCOPED_TRACE(command);
        startTune();
        run(200ms);
        device->serverUp = false;
        run(600ms);
        send(command);
        const int attempts = output->openAttempts();
        run(2000ms);
        device->serverUp = true;
        run(2000ms);
        EXPECT_EQ(output->openAttempts(), attempts) << "nothing meant to sound, nothing opened";
        EXPECT_NE(output->state(), SdlOutput::State::Running);

        // The next sound is served as before: at once.
        startTune();
        EXPECT_EQ(output->state(), SdlOutput::State::Running);
        send("close midifile");
    }
}

TEST_F(OutputTest, WithoutADeviceRequestsAreTriedEveryHalfSecondAtMost)
{
    // No sound card: the first request tries at once; those in the next half second wait, and
    // the last of them is tried when it is over.
    device->serverUp = false;
    startTune();
    EXPECT_EQ(output->openAttempts(), 1);
    EXPECT_EQ(output->state(), SdlOutput::State::Failed);
    for (int i = 0; i < 4; ++i) {
        run(100ms);
        send("stop midifile");
        send("play midifile");
        output->runDue();
    }
    EXPECT_EQ(output->openAttempts(), 1);
    run(100ms);
    EXPECT_EQ(output->openAttempts(), 2);
    // A device that never opened is not an outage: the playing tune does not keep trying.
    run(3000ms);
    EXPECT_EQ(output->openAttempts(), 2);
}

TEST_F(OutputTest, AQuietDevicePausesThenClosesAndTheNextSoundOpensItAgain)
{
    startTune();
    run(200ms);
    send("stop midifile");
    run(300ms);
    EXPECT_EQ(output->state(), SdlOutput::State::Running) << "a moment of quiet keeps it running";
    run(1000ms);
    EXPECT_EQ(output->state(), SdlOutput::State::Paused);
    run(1500ms);
    EXPECT_EQ(output->state(), SdlOutput::State::Closed) << "a longer quiet closes it";
    send("play midifile");
    output->runDue();
    EXPECT_EQ(output->state(), SdlOutput::State::Running);
    EXPECT_EQ(output->openAttempts(), 2);
}

TEST_F(OutputTest, ADeviceThatStopsPullingForASecondIsTakenForLost)
{
    startTune();
    run(500ms);
    device->pulling = false;
    run(900ms);
    EXPECT_EQ(output->losses(), 0) << "a device may wait for its server a while";
    run(200ms);
    EXPECT_EQ(output->losses(), 1) << "but not a second";
    device->pulling = true;
    EXPECT_EQ(output->state(), SdlOutput::State::Running) << "opened again at once for the tune";
}
