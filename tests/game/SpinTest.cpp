// SPDX-License-Identifier: GPL-3.0-or-later

#include "GameFixture.h"

using testing_support::GameTest;

namespace {

constexpr std::uint32_t kMode0 = 19;

class SpinTest : public GameTest {
protected:
    SpinTest()
    {
        start();
        // Keep intruders out of the way of the spin.
        form1.Command2_Click();
        platform.takeEffects();
    }
    // What the girl shows, by the store it came from.
    std::string girl()
    {
        const std::string& p = el("Image4").picture();
        for (const char* store :
             {"Image20", "Image24", "Image22", "Image21", "Image23", "Image16", "Image17", "Image19", "Image18"})
            if (el(store).picture() == p)
                return store;
        return "?";
    }
};

} // namespace

TEST_F(SpinTest, FirstPressTurnsTheGirlOnceAround)
{
    pressFigure();
    EXPECT_EQ(el("Label9").caption(), "1");
    EXPECT_EQ(el("Image3").picture(), el("Image10").picture());
    ASSERT_EQ(platform.effects.size(), 1u);
    EXPECT_EQ(platform.effects[0].path, "/opt/ombura/kuruiya.dat");
    EXPECT_EQ(platform.effects[0].flags, kMode0);

    std::vector<std::string> frames;
    for (int i = 0; i < 5; ++i) {
        clock.advance(100);
        frames.push_back(girl());
    }
    EXPECT_EQ(frames, (std::vector<std::string>{"Image24", "Image22", "Image21", "Image23", "Image24"}));
    EXPECT_EQ(el("Image3").picture(), el("Image10").picture());
    clock.advance(100);
    EXPECT_EQ(el("Image3").picture(), el("Image9").picture());
    EXPECT_FALSE(timer("Timer1").enabled());
    EXPECT_EQ(form1.spinStep(), 0);
    // The girl stays on the front frame, not at rest.
    EXPECT_EQ(girl(), "Image24");
}

TEST_F(SpinTest, PressesDuringATurnScoreWithoutStartingAnother)
{
    pressFigure();
    clock.advance(300);
    EXPECT_EQ(form1.spinStep(), 3);
    pressFigure(form::MouseButton::Right);
    EXPECT_EQ(el("Label9").caption(), "2");
    EXPECT_EQ(form1.spinStep(), 3);
    EXPECT_EQ(platform.takeEffects().size(), 2u);
    clock.advance(300);
    EXPECT_FALSE(timer("Timer1").enabled());
    EXPECT_EQ(el("Image3").picture(), el("Image9").picture());
    // The next press after the turn starts a new one.
    pressFigure(form::MouseButton::Middle);
    EXPECT_TRUE(timer("Timer1").enabled());
    EXPECT_EQ(state().score, 3);
}

TEST_F(SpinTest, ReachingAHundredSwitchesTheFramesMidTurn)
{
    for (int i = 0; i < 98; ++i)
        pressFigure();
    clock.advance(600);
    pressFigure(); // 99
    clock.advance(200);
    pressFigure(); // 100: the second costume goes in before the next frame
    EXPECT_EQ(state().level, 3);
    clock.advance(100);
    EXPECT_EQ(girl(), "Image19");
    clock.advance(100);
    EXPECT_EQ(girl(), "Image18");
    clock.advance(100);
    EXPECT_EQ(girl(), "Image16");
    // A stop brings the first costume back.
    stop();
    EXPECT_EQ(el("Image5").picture(), el("Image24").picture());
    EXPECT_EQ(el("Image8").picture(), el("Image23").picture());
}

TEST_F(SpinTest, PressesWhileStoppedDoNothing)
{
    stop();
    platform.takeCommands();
    pressFigure();
    pressFigure(form::MouseButton::Right);
    EXPECT_EQ(state().score, 0);
    EXPECT_FALSE(timer("Timer1").enabled());
    EXPECT_TRUE(platform.effects.empty());
    EXPECT_TRUE(platform.commands.empty());
}

TEST_F(SpinTest, ScoreStopsAtTheTopOfTheCounter)
{
    // 334 jumps of 98 take the score to 32732; presses carry it the rest of the way.
    for (int i = 0; i < 334; ++i)
        form1.Command1_Click();
    EXPECT_EQ(state().score, 32732);
    for (int i = 0; i < 40; ++i)
        pressFigure();
    EXPECT_EQ(state().score, 32767);
    EXPECT_EQ(el("Label9").caption(), "32767");
    // The press at the top still counts in every other way.
    clock.advance(3000);
    pressFigure();
    EXPECT_EQ(state().idleTicks, 0);
    EXPECT_TRUE(timer("Timer1").enabled());
    EXPECT_EQ(state().score, 32767);
}
