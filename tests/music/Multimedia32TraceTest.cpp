// SPDX-License-Identifier: GPL-3.0-or-later

#include "MidiBytes.h"
#include "Multimedia32.h"
#include "MusicChannel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Writes down every command with its reply capacity and, when given a channel, lets it answer.
class TracingPlatform : public sound::SoundPlatform {
public:
    explicit TracingPlatform(sound::MusicChannel* channel = nullptr) : channel_(channel) { }

    std::uint32_t mciSendString(std::string_view command, char* reply, unsigned capacity) override
    {
        trace.push_back(std::string(command) + " |" + std::to_string(capacity));
        return channel_ ? channel_->send(command, reply, capacity) : 0;
    }
    bool sndPlaySound(const std::string&, std::uint32_t) override { return false; }

    std::vector<std::string> take() { return std::exchange(trace, {}); }

    std::vector<std::string> trace;

private:
    sound::MusicChannel* channel_;
};

using Trace = std::vector<std::string>;

const std::string kPath = "/home/a b/ombura type waveaudio alias x/bgm.dat";

TEST(Multimedia32Trace, EachOperationSendsItsExactCommands)
{
    TracingPlatform platform;
    sound::Multimedia32 mm(platform);

    mm.OpenMusic(kPath); // start-up, Stop, and the end of a game over
    EXPECT_EQ(platform.take(),
              (Trace{"stop midifile  |0", "close midifile |0", "open " + kPath + " type sequencer alias midifile |0"}));
    mm.RestartMusic(); // Start
    EXPECT_EQ(platform.take(), (Trace{"STOP MIDIFILE  |0", "play midifile |0"}));
    mm.CloseMusic(); // game over and Exit
    EXPECT_EQ(platform.take(), (Trace{"close midifile |0"}));
    EXPECT_EQ(mm.GetMusicMode(), "");
    EXPECT_EQ(platform.take(), (Trace{"status midifile mode |15"}));
    mm.OpenMusic("");
    EXPECT_TRUE(platform.take().empty());

    // The music poll's restart, once the tune has ended.
    mm.GetMusicMode();
    mm.CloseMusic();
    mm.OpenMusic(kPath);
    mm.RestartMusic();
    EXPECT_EQ(platform.take(),
              (Trace{"status midifile mode |15", "close midifile |0", "stop midifile  |0", "close midifile |0",
                     "open " + kPath + " type sequencer alias midifile |0", "STOP MIDIFILE  |0", "play midifile |0"}));
}

// The game's whole life with the music, the interpreter answering: the device must read
// "STOPPED" exactly when the game's poll should restart it, and nothing else.
TEST(Multimedia32Trace, TheInterpreterAnswersTheGamesSequences)
{
    music_test::ScratchDir scratch;
    const std::string path = scratch.write("bgm.dat", music_test::tune(250));
    sound::MusicChannel channel(std::nullopt);
    TracingPlatform platform(&channel);
    sound::Multimedia32 mm(platform);
    std::vector<float> block(2 * 512);
    auto playOut = [&] {
        for (int i = 0; i < 100 && mm.GetMusicMode() == "PLAYING"; ++i)
            channel.render(block.data(), 512);
    };

    mm.OpenMusic(path); // Form_Load
    EXPECT_EQ(mm.GetMusicMode(), "STOPPED");
    mm.RestartMusic(); // Start
    EXPECT_EQ(mm.GetMusicMode(), "PLAYING");
    playOut();
    EXPECT_EQ(mm.GetMusicMode(), "STOPPED");

    // The poll's seven commands bring it back from the start.
    ASSERT_EQ(mm.GetMusicMode(), "STOPPED");
    mm.CloseMusic();
    mm.OpenMusic(path);
    mm.RestartMusic();
    EXPECT_EQ(mm.GetMusicMode(), "PLAYING");
    channel.render(block.data(), 512);
    EXPECT_EQ(mm.GetMusicMode(), "PLAYING");

    mm.OpenMusic(path); // Stop
    EXPECT_EQ(mm.GetMusicMode(), "STOPPED");
    mm.RestartMusic();
    mm.CloseMusic(); // game over: closed while the box shows, and the poll leaves it alone
    EXPECT_EQ(mm.GetMusicMode(), "");
    mm.OpenMusic(path);
    EXPECT_EQ(mm.GetMusicMode(), "STOPPED");
    mm.CloseMusic(); // Exit
    EXPECT_EQ(mm.GetMusicMode(), "");

    // A missing file leaves the alias closed for good; the game runs without music.
    mm.OpenMusic(path + ".missing");
    mm.RestartMusic();
    EXPECT_EQ(mm.GetMusicMode(), "");
}

} // namespace
