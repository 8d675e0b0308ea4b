// SPDX-License-Identifier: GPL-3.0-or-later

#include "GameFixture.h"

using testing_support::GameTest;
using Commands = std::vector<std::string>;

namespace {

const Commands kOpen{"stop midifile ", "close midifile", "open /opt/ombura/bgm.dat type sequencer alias midifile"};
const Commands kRestart{"STOP MIDIFILE ", "play midifile"};

} // namespace

TEST(DataPaths, BuiltFromTheProgramFolder)
{
    struct Row {
        std::string directory;
        char separator;
        std::string music, slash;
    };
    const Row rows[] = {
        {"/opt/ombura", '/', "/opt/ombura/bgm.dat", "/opt/ombura/zaku.dat"},
        {"/", '/', "//bgm.dat", "//zaku.dat"},
        {"/home/a b/ombura", '/', "/home/a b/ombura/bgm.dat", "/home/a b/ombura/zaku.dat"},
        {"C:\\play", '\\', "C:\\play\\bgm.dat", "C:\\play\\zaku.dat"},
        {"C:\\", '\\', "C:\\\\bgm.dat", "C:\\\\zaku.dat"},
        {"\\\\server\\share", '\\', "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.directory);
        const game::DataPaths p = game::dataPaths(row.directory, row.separator);
        EXPECT_EQ(p.music, row.music);
        EXPECT_EQ(p.slashSound, row.slash);
        if (!row.music.empty()) {
            EXPECT_EQ(p.spinSound, row.directory + row.separator + "kuruiya.dat");
            EXPECT_EQ(p.warningSound, row.directory + row.separator + "keikoku.dat");
        } else {
            EXPECT_TRUE(p.spinSound.empty() && p.warningSound.empty());
        }
    }
}

TEST_F(GameTest, StartUpLeavesTheGameStopped)
{
    EXPECT_EQ(state().level, 1);
    EXPECT_EQ(state().score, 0);
    EXPECT_EQ(state().idleTicks, 0);
    EXPECT_FALSE(state().intruderCode.has_value());
    EXPECT_EQ(state().musicPath, "/opt/ombura/bgm.dat");
    EXPECT_EQ(state().warningSoundPath, "/opt/ombura/keikoku.dat");
    EXPECT_EQ(el("Label7").caption(), "10");
    EXPECT_EQ(el("Label9").caption(), "0");
    EXPECT_EQ(el("Image4").picture(), el("Image20").picture());
    EXPECT_EQ(el("Image5").picture(), el("Image24").picture());
    EXPECT_FALSE(el("Image15").visible());
    EXPECT_FALSE(el("Image3").enabled());
    EXPECT_FALSE(el("Image4").enabled());
    for (const form::Timer& t : form().timers())
        EXPECT_FALSE(t.enabled()) << t.name();
    EXPECT_FALSE(form().menuEntry("mnuSethu").enabled);
    EXPECT_TRUE(form().menuEntry("mnuStart").enabled);
    EXPECT_EQ(platform.takeCommands(), kOpen);
    // Nothing ticks before a game starts.
    clock.advance(10'000);
    EXPECT_TRUE(platform.commands.empty());
    EXPECT_EQ(el("Label7").caption(), "10");
}

TEST_F(GameTest, StartSwitchesTheGameOnAndStartsTheMusic)
{
    platform.takeCommands();
    start();
    EXPECT_TRUE(timer("Timer2").enabled());
    EXPECT_TRUE(timer("Timer3").enabled());
    EXPECT_TRUE(timer("bgm").enabled());
    EXPECT_FALSE(timer("Timer1").enabled());
    EXPECT_TRUE(el("Image3").enabled());
    EXPECT_FALSE(el("Image4").enabled());
    EXPECT_EQ(el("Label9").caption(), "0");
    EXPECT_EQ(platform.takeCommands(), kRestart);
}

TEST_F(GameTest, StopMidAnimationResetsAtOnceButKeepsTheScoreShown)
{
    start();
    pressFigure();
    pressFigure();
    clock.advance(250); // two frames into the turn
    platform.takeCommands();
    stop();
    EXPECT_EQ(form1.spinStep(), 0);
    EXPECT_FALSE(timer("Timer1").enabled());
    EXPECT_EQ(el("Image4").picture(), el("Image20").picture());
    // The figure keeps pulling until a later game's turn completes.
    EXPECT_EQ(el("Image3").picture(), el("Image10").picture());
    EXPECT_EQ(el("Label9").caption(), "2");
    EXPECT_EQ(state().score, 0);
    EXPECT_EQ(platform.takeCommands(), kOpen);
    // Stop while stopped: the same state, and the music is closed and opened once more.
    stop();
    EXPECT_EQ(platform.takeCommands(), kOpen);
    EXPECT_EQ(el("Label9").caption(), "2");
    start();
    EXPECT_EQ(el("Label9").caption(), "0");
    pressFigure();
    EXPECT_EQ(el("Label9").caption(), "1");
}

TEST_F(GameTest, ExitClosesTheMusicAndEndsTheProgram)
{
    start();
    platform.takeCommands();
    form().chooseMenu("mnuExit");
    EXPECT_EQ(platform.takeCommands(), Commands{"close midifile"});
    EXPECT_EQ(shell.endCalls, 1);
}

TEST_F(GameTest, MusicWatchdogRestartsOnlyAStoppedSequence)
{
    start();
    platform.takeCommands();
    platform.mode = "playing";
    clock.advance(1000);
    EXPECT_EQ(platform.takeCommands(), Commands{"status midifile mode"});
    platform.mode = "Stopped";
    clock.advance(1000);
    Commands expected{"status midifile mode", "close midifile"};
    expected.insert(expected.end(), kOpen.begin(), kOpen.end());
    expected.insert(expected.end(), kRestart.begin(), kRestart.end());
    EXPECT_EQ(platform.takeCommands(), expected);
    platform.mode = "";
    clock.advance(1000);
    EXPECT_EQ(platform.takeCommands(), Commands{"status midifile mode"});
}

TEST(GameWithoutPaths, NetworkFolderPlaysSilently)
{
    form::ManualClock clock;
    testing_support::RecordingPlatform platform;
    sound::Multimedia32 multimedia(platform);
    testing_support::FakeShell shell;
    shell.directory = "\\\\server\\share";
    game::Form1 form1(clock, multimedia, shell, [] { return 7ULL; });
    form1.Form_Load();
    form1.form().chooseMenu("mnuStart");
    form1.form().press({215 * 15, 160 * 15}, form::MouseButton::Left);
    clock.advance(12'000);
    form1.form().chooseMenu("mnuStop");
    EXPECT_EQ(form1.state().musicPath, "");
    // Only the plain device commands go out; no open, and no effect request at all.
    for (const std::string& c : platform.commands)
        EXPECT_EQ(c.find("open"), std::string::npos) << c;
    EXPECT_TRUE(platform.effects.empty());
}
