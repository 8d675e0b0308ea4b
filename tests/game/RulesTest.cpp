// SPDX-License-Identifier: GPL-3.0-or-later

#include "GameFixture.h"

#include <cmath>

using testing_support::GameTest;

namespace {

constexpr const char* kWarning = "/opt/ombura/keikoku.dat";

int warnings(testing_support::RecordingPlatform& platform)
{
    int n = 0;
    for (const auto& e : platform.takeEffects())
        n += e.path == kWarning;
    return n;
}

class RulesTest : public GameTest {
protected:
    RulesTest()
    {
        start();
        platform.takeCommands();
        platform.takeEffects();
    }
    // Scores `n` points with presses spread so that no intruder is up.
    void scoreTo(int n)
    {
        while (state().score < n) {
            ASSERT_NE(state().intruderCode, 1);
            pressFigure();
        }
    }
};

} // namespace

TEST_F(RulesTest, IdlePlayerEscapesAtTheEleventhTick)
{
    form1.Command2_Click(); // no intruders
    std::vector<std::string> labels;
    std::vector<int> warned;
    for (int tick = 1; tick <= 10; ++tick) {
        clock.advance(1000);
        labels.push_back(el("Label7").caption());
        warned.push_back(warnings(platform));
    }
    EXPECT_EQ(labels, (std::vector<std::string>{"10", "9", "8", "7", "6", "5", "4", "3", "2", "1"}));
    EXPECT_EQ(warned, (std::vector<int>{0, 0, 0, 0, 0, 0, 0, 1, 1, 1}));
    EXPECT_TRUE(shell.boxes.empty());

    // While the box is open "0" stays: the countdown's own timer waits for its handler, which
    // waits for the box, so no tick of it comes and no warning is asked for.
    std::vector<std::string> whileOpen;
    shell.whileBoxOpen = [&] {
        whileOpen.push_back(el("Label7").caption());
        EXPECT_EQ(platform.commands.back(), "close midifile");
        EXPECT_EQ(warnings(platform), 1);
        clock.advance(3000);
        whileOpen.push_back(el("Label7").caption());
        EXPECT_EQ(warnings(platform), 0);
        EXPECT_EQ(state().idleTicks, 11);
    };
    clock.advance(1000);
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(shell.boxes[0].title, "GAME\u3000OVER");
    EXPECT_EQ(shell.boxes[0].prompt, "娘さん逃亡…。");
    EXPECT_EQ(whileOpen, (std::vector<std::string>{"0", "0"}));
    // Closed: the game is reset and nothing ticks any more.
    EXPECT_EQ(el("Label7").caption(), "10");
    EXPECT_FALSE(timer("Timer1").enabled() || timer("Timer2").enabled() || timer("Timer3").enabled());
    EXPECT_FALSE(el("Image3").enabled());
    clock.advance(5000);
    EXPECT_EQ(shell.boxes.size(), 1u);
}

TEST_F(RulesTest, IntrudersAndTheMusicWatchdogTickOnWhileTheBoxIsOpen)
{
    int rolls = 0;
    int watchdog = 0;
    shell.whileBoxOpen = [&] {
        platform.takeCommands();
        for (int i = 0; i < 6; ++i) {
            const std::string before = el("Label1").caption();
            nextRoll(90 + i % 2); // never an intruder, and each roll differs from the last
            clock.advance(500);
            rolls += el("Label1").caption() != before;
        }
        for (const std::string& c : platform.takeCommands())
            watchdog += c == "status midifile mode";
        EXPECT_EQ(el("Label7").caption(), "0");
    };
    clock.advance(11'000);
    ASSERT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(rolls, 6);
    EXPECT_GE(watchdog, 3); // once a second, one more if its tick fell due with the box
}

TEST_F(RulesTest, ABoxLeftOpenForHoursOpensNoSecondBox)
{
    form1.Command2_Click();
    std::vector<std::string> labels;
    shell.whileBoxOpen = [&] {
        clock.advance(40'000'000);
        labels.push_back(el("Label7").caption());
    };
    clock.advance(11'000);
    EXPECT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(labels, std::vector<std::string>{"0"});
    EXPECT_EQ(state().idleTicks, 0); // reset once the box closed
    clock.advance(20'000);
    EXPECT_EQ(shell.boxes.size(), 1u);
}

TEST_F(RulesTest, LevelThresholdsByExactScore)
{
    struct Row {
        int score;
        int level;
        int interval;
        const char* stage;
    };
    const Row rows[] = {{20, 1, 500, "2"}, {40, 2, 1000, "3"},  {60, 2, 1000, "4"},
                        {80, 2, 500, "5"}, {100, 3, 1000, "6"}, {120, 3, 500, "7"}};
    form1.Command2_Click();
    timer("Timer2").setInterval(1000);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.score);
        scoreTo(row.score - 1);
        const std::string stageBefore = el("Label11").caption();
        pressFigure();
        EXPECT_EQ(state().level, row.level);
        EXPECT_EQ(timer("Timer2").interval(), row.interval);
        EXPECT_EQ(el("Label11").caption(), row.stage);
        EXPECT_NE(stageBefore, row.stage);
    }
    EXPECT_EQ(el("Image5").picture(), el("Image16").picture());
    // The interval of the last game carries into the next; the level does not.
    scoreTo(45);
    stop();
    EXPECT_EQ(timer("Timer2").interval(), 500);
    EXPECT_EQ(state().level, 1);
    EXPECT_EQ(el("Label11").caption(), "7");
}

TEST_F(RulesTest, CatchOnAThresholdRunsItsRowAgain)
{
    form1.Command2_Click();
    scoreTo(100);
    ASSERT_EQ(state().level, 3);
    timer("Timer2").setInterval(500);
    el("Label11"); // stage "6"
    timeOfDay = 0;
    nextRoll(10);
    form1.Timer2_Timer();
    ASSERT_EQ(state().intruderCode, 1);
    pressFigure();
    EXPECT_EQ(state().score, 100);
    EXPECT_EQ(timer("Timer2").interval(), 1000);
    EXPECT_EQ(el("Image5").picture(), el("Image16").picture());
}

TEST_F(RulesTest, TestButtonJumpsSkipThresholds)
{
    form1.Command2_Click();
    struct Row {
        int from;
        std::vector<std::pair<int, int>> after; // score, level after each press
        int interval;
    };
    // 2 -> 100 -> 101: no third level, no second costume.
    scoreTo(2);
    form1.Command1_Click();
    EXPECT_EQ(state().score, 100);
    EXPECT_EQ(el("Label9").caption(), "2");
    pressFigure();
    EXPECT_EQ(el("Label9").caption(), "101");
    EXPECT_EQ(state().level, 1);
    EXPECT_EQ(el("Image5").picture(), el("Image24").picture());

    // 21 -> 119 -> 120 sets the fast pace and stage 7, the level stays.
    stop();
    start();
    form1.Command2_Click();
    scoreTo(21);
    timer("Timer2").setInterval(1000);
    form1.Command1_Click();
    pressFigure();
    EXPECT_EQ(state().score, 120);
    EXPECT_EQ(timer("Timer2").interval(), 500);
    EXPECT_EQ(el("Label11").caption(), "7");
    EXPECT_EQ(state().level, 1);

    // 25 -> 123: nothing changes for the rest of the game.
    stop();
    start();
    form1.Command2_Click();
    scoreTo(25);
    form1.Command1_Click();
    for (int i = 0; i < 10; ++i)
        pressFigure();
    EXPECT_EQ(state().score, 133);
    EXPECT_EQ(state().level, 1);

    // A jump past the top of the counter is not taken.
    while (state().score <= 32669)
        form1.Command1_Click();
    const auto top = state().score;
    form1.Command1_Click();
    EXPECT_EQ(state().score, top);
}

TEST_F(RulesTest, EveryBoundaryRollOfEveryLevel)
{
    struct Row {
        int level;
        int roll;
        const char* shown; // nullptr: no intruder
    };
    // clang-format off
    const Row rows[] = {
        {1, 1, "Image2"}, {1, 10, "Image2"}, {1, 11, nullptr}, {1, 15, nullptr}, {1, 19, nullptr},
        {1, 20, "Image12"}, {1, 30, "Image12"}, {1, 31, nullptr}, {1, 39, nullptr}, {1, 40, "Image13"},
        {1, 50, "Image13"}, {1, 51, nullptr}, {1, 59, nullptr}, {1, 60, "Image14"}, {1, 70, "Image14"},
        {1, 71, nullptr}, {1, 100, nullptr},
        {2, 15, "Image2"}, {2, 16, nullptr}, {2, 19, nullptr}, {2, 20, "Image12"}, {2, 35, "Image12"},
        {2, 36, nullptr}, {2, 39, nullptr}, {2, 40, "Image13"}, {2, 55, "Image13"}, {2, 56, nullptr},
        {2, 59, nullptr}, {2, 60, "Image14"}, {2, 75, "Image14"}, {2, 76, nullptr}, {2, 100, nullptr},
        {3, 1, "Image2"}, {3, 20, "Image2"}, {3, 21, "Image12"}, {3, 40, "Image12"}, {3, 41, "Image13"},
        {3, 60, "Image13"}, {3, 61, "Image14"}, {3, 80, "Image14"}, {3, 81, nullptr}, {3, 100, nullptr},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "level " << row.level << " roll " << row.roll);
        const_cast<game::GameState&>(state()).level = static_cast<std::int16_t>(row.level);
        nextRoll(row.roll);
        form1.Timer2_Timer();
        EXPECT_EQ(state().intruderRoll, row.roll);
        EXPECT_EQ(el("Label1").caption(), std::to_string(row.roll));
        for (const char* name : {"Image2", "Image12", "Image13", "Image14"})
            EXPECT_EQ(el(name).visible(), row.shown && std::string(row.shown) == name) << name;
        EXPECT_EQ(state().intruderCode, row.shown ? 1 : 0);
        EXPECT_EQ(el("Label2").caption(), row.shown ? "1" : "0");
    }
}

TEST_F(RulesTest, CatchThrowsThePinwheelForThreeTicks)
{
    nextRoll(25);
    clock.advance(500);
    ASSERT_TRUE(el("Image12").visible());
    form1.Command2_Click(); // hold the intruder where it is
    pressFigure();
    EXPECT_EQ(state().score, 0);
    EXPECT_TRUE(el("Image15").visible());
    EXPECT_FALSE(timer("Timer1").enabled());
    auto effects = platform.takeEffects();
    ASSERT_EQ(effects.size(), 1u);
    EXPECT_EQ(effects[0].path, "/opt/ombura/zaku.dat");
    // Presses on the pinwheel do nothing at all.
    pressFigure();
    EXPECT_TRUE(platform.takeEffects().empty());
    clock.advance(2000);
    EXPECT_TRUE(el("Image15").visible());
    EXPECT_EQ(state().flashTicks, 2);
    clock.advance(1000);
    EXPECT_FALSE(el("Image15").visible());
    EXPECT_FALSE(timer("Timer4").enabled());
    EXPECT_EQ(state().flashTicks, 0);
    // The intruder is still up, so the next press is a catch again.
    pressFigure();
    EXPECT_TRUE(el("Image15").visible());
}

TEST_F(RulesTest, StopDuringACatchAndAnIntruderLeftOnScreen)
{
    nextRoll(5);
    clock.advance(500);
    pressFigure();
    clock.advance(1000);
    stop();
    EXPECT_FALSE(el("Image15").visible());
    EXPECT_TRUE(timer("Timer4").enabled());
    EXPECT_TRUE(el("Image2").visible());
    EXPECT_EQ(state().intruderCode, 1);
    // The old run of the pinwheel timer ends itself; the next game's first press is a catch.
    start();
    pressFigure();
    EXPECT_EQ(state().score, 0);
    EXPECT_TRUE(el("Image15").visible());
    clock.advance(1000);
    EXPECT_TRUE(el("Image15").visible());
    EXPECT_EQ(state().flashTicks, 2);
    clock.advance(1000); // the old run's third tick hides the new pinwheel after two of its own
    EXPECT_FALSE(el("Image15").visible());
    EXPECT_FALSE(timer("Timer4").enabled());
}

TEST_F(RulesTest, SecondTestButtonFreezesAShowingIntruder)
{
    nextRoll(65);
    clock.advance(500);
    ASSERT_TRUE(el("Image14").visible());
    form1.Command2_Click();
    clock.advance(5000);
    EXPECT_TRUE(el("Image14").visible());
    EXPECT_FALSE(timer("Timer2").enabled());
    EXPECT_EQ(state().intruderCode, 1);
}

TEST(IntruderRoll, UniformOverOneToHundred)
{
    // Readings half a second apart with a little jitter, as the timer gives them.
    std::array<int, 100> counts{};
    const int n = 200'000;
    std::uint64_t t = 36'000'000'000'000ULL;
    for (int i = 0; i < n; ++i) {
        t += 500'000'000ULL + static_cast<std::uint64_t>((i * 7919) % 1'000'000);
        const int roll = game::rollFromTimeOfDay(t);
        ASSERT_GE(roll, 1);
        ASSERT_LE(roll, 100);
        ++counts[static_cast<std::size_t>(roll - 1)];
    }
    double chi2 = 0;
    const double expected = n / 100.0;
    for (int c : counts)
        chi2 += (c - expected) * (c - expected) / expected;
    // The 1% critical value of chi-square with 99 degrees of freedom.
    EXPECT_LT(chi2, 134.642);
}
