// SPDX-License-Identifier: GPL-3.0-or-later

#include "MidiBytes.h"
#include "MusicChannel.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

using sound::code;
using sound::MciError;

namespace {

constexpr char kUntouched = '#';

struct Step {
    std::string command;
    MciError result;
    unsigned capacity = 0;
    std::optional<std::string> reply = std::nullopt; // nullopt: the buffer must stay untouched
};

class MciInterpreterTest : public ::testing::Test {
protected:
    MciInterpreterTest()
    {
        tune = scratch.write("bgm.dat", music_test::tune(500));
        odd = scratch.write("x type waveaudio alias y.dat", music_test::tune(500));
        scratch.write("t type sequencer alias midifile", music_test::tune(500));
        scratch.write(" Tune.MID ", music_test::tune(500));
        noise = scratch.write("noise.dat", {'R', 'I', 'F', 'F', 1, 2, 3, 4, 'W', 'A', 'V', 'E'});
    }

    std::string expand(std::string text) const
    {
        const std::array<std::pair<std::string, std::string>, 5> names{{
            {"{tune}", tune},
            {"{odd}", odd},
            {"{noise}", noise},
            {"{dir}", scratch.dir.string()},
            {"{missing}", (scratch.dir / "missing.dat").string()},
        }};
        for (const auto& [key, value] : names) {
            if (const auto at = text.find(key); at != std::string::npos)
                text.replace(at, key.size(), value);
        }
        return text;
    }

    void run(const std::vector<Step>& script)
    {
        for (const Step& s : script) {
            const std::string command = expand(s.command);
            SCOPED_TRACE(command);
            std::array<char, 32> buffer;
            buffer.fill(kUntouched);
            const std::uint32_t result = channel.send(command, buffer.data(), s.capacity);
            EXPECT_EQ(result, code(s.result));
            if (s.reply) {
                ASSERT_LT(s.reply->size(), s.capacity);
                EXPECT_STREQ(buffer.data(), s.reply->c_str());
                EXPECT_EQ(buffer[s.capacity], kUntouched) << "wrote past its capacity";
            } else {
                EXPECT_EQ(buffer[0], kUntouched) << "wrote a reply it should not have";
            }
        }
    }

    music_test::ScratchDir scratch;
    std::string tune, odd, noise;
    sound::MusicChannel channel{std::nullopt};
};

TEST_F(MciInterpreterTest, AnswersLikeTheClassicDevice)
{
    run({
        // Nothing is open yet: every command on the alias fails and writes nothing.
        {"status midifile mode", MciError::InvalidDeviceName, 15},
        {"stop midifile ", MciError::InvalidDeviceName},
        {"close midifile", MciError::InvalidDeviceName, 15},
        {"play midifile", MciError::InvalidDeviceName, 15},
        {"play midifile wait", MciError::InvalidDeviceName, 15},
        {"open {missing} type sequencer alias midifile", MciError::FileNotFound, 15},
        {"open {dir} type sequencer alias midifile", MciError::InvalidFile, 15},
        {"open {noise} type sequencer alias midifile", MciError::InvalidFile, 15},
        {"open {tune} type waveaudio alias midifile", MciError::DeviceNotInstalled, 15},
        {"status midifile mode", MciError::InvalidDeviceName, 15},

        {"open {tune} type sequencer alias midifile", MciError::Ok},
        {"open {tune} type sequencer alias MIDIFILE", MciError::DuplicateAlias, 15},
        {"open {tune} type sequencer alias second", MciError::SequencerPortInUse, 15},
        {"status midifile mode", MciError::Ok, 15, "stopped"},
        {"STATUS MIDIFILE MODE  ", MciError::Ok, 15, "stopped"},
        {"status midifile mode", MciError::Ok, 8, "stopped"},
        {"status midifile mode", MciError::ParamOverflow, 7, "stoppe"},
        {"status midifile mode", MciError::ParamOverflow, 1, ""},
        {"status midifile mode", MciError::Ok, 0},
        {"status midifile", MciError::MissingParameter, 15},
        {"status midifile length", MciError::UnrecognizedKeyword, 15},
        {"status other mode", MciError::InvalidDeviceName, 15},
        {"play midifile wait", MciError::UnrecognizedKeyword, 15},

        {"play midifile", MciError::Ok, 15, ""},
        {"status midifile mode", MciError::Ok, 15, "playing"},
        {"play MidiFile", MciError::Ok},
        {"status midifile mode", MciError::Ok, 15, "playing"},
        {"STOP MIDIFILE ", MciError::Ok},
        {"status midifile mode", MciError::Ok, 15, "stopped"},
        {"stop midifile", MciError::Ok},
        {"status midifile mode", MciError::Ok, 15, "stopped"},

        {"close midifile", MciError::Ok},
        {"status midifile mode", MciError::InvalidDeviceName, 15},
        {"close midifile", MciError::InvalidDeviceName},

        // Keyword-like words in the path name a file; they change nothing else.
        {"open {odd} type sequencer alias midifile", MciError::Ok},
        {"status midifile mode", MciError::Ok, 15, "stopped"},
        {"status x mode", MciError::InvalidDeviceName, 15},
        {"close MIDIFILE", MciError::Ok},
        // With the alias closed, the sequencer is free for another name.
        {"open {tune} type sequencer alias second", MciError::Ok},
        {"close second", MciError::Ok},
        {"bogus midifile", MciError::UnrecognizedCommand, 15},
        {"", MciError::MissingCommandString, 15},
    });
}

// The game's folder goes into the open command bare: the element is everything between the
// verb and the final "type ... alias ..." clause, blanks and keywords included.
TEST_F(MciInterpreterTest, ReadsEveryShapeOfCommand)
{
    using namespace std::string_literals;
    run({
        {"OPEN {tune} TYPE Sequencer ALIAS MidiFile  ", MciError::Ok},
        {"Status MidiFile MODE\t \t", MciError::Ok, 15, "stopped"},
        {"  play   midifile  ", MciError::Ok},
        {"status midifile mode\0 x"s, MciError::Ok, 15, "playing"},
        {"close midifile", MciError::Ok},
        {"open {dir}/t type sequencer alias midifile type sequencer alias m2", MciError::Ok},
        {"status midifile mode", MciError::InvalidDeviceName, 15},
        {"close m2", MciError::Ok},
        {"open {odd} alias m type sequencer", MciError::Ok},
        {"close m", MciError::Ok},
        // One blank on each side of the element; more belong to the path, whose case is kept.
        {"open {dir}/ Tune.MID  type sequencer alias m", MciError::Ok},
        {"close m", MciError::Ok},
        {"open {dir}/ tune.mid  type sequencer alias m", MciError::FileNotFound, 15},
        {"open  {tune} type sequencer alias m", MciError::FileNotFound, 15},
        // Failures, before any device is asked.
        {"   \t ", MciError::MissingCommandString, 15},
        {"\0play midifile"s, MciError::MissingCommandString, 15},
        {"pause midifile", MciError::UnrecognizedCommand, 15},
        {"playx midifile", MciError::UnrecognizedCommand, 15},
        {"play", MciError::MissingDeviceName, 15},
        {"status   ", MciError::MissingDeviceName, 15},
        {"open", MciError::MissingDeviceName, 15},
        {"open /x.mid", MciError::DeviceTypeRequired, 15},
        {"open /x.mid alias m", MciError::DeviceTypeRequired, 15},
        {"open /x.mid type sequencer", MciError::MissingParameter, 15},
        {"open /x.mid type sequencer alias m wait", MciError::DeviceTypeRequired, 15},
        {"open type sequencer alias m", MciError::FilenameRequired, 15},
        {"open  type sequencer alias m", MciError::FilenameRequired, 15},
    });
}

TEST_F(MciInterpreterTest, WakesTheOutputOnEveryAcceptedPlay)
{
    int wakes = 0;
    channel.setWakeCallback([&] { ++wakes; });
    channel.send("play midifile", nullptr, 0);
    EXPECT_EQ(wakes, 0);
    channel.send(expand("open {tune} type sequencer alias midifile"), nullptr, 0);
    EXPECT_EQ(wakes, 0);
    channel.send("play midifile", nullptr, 0);
    EXPECT_EQ(wakes, 1);
    EXPECT_TRUE(channel.active());
    channel.send("stop midifile", nullptr, 0);
    EXPECT_FALSE(channel.active());
    channel.send("play midifile", nullptr, 0);
    EXPECT_EQ(wakes, 2);
}

} // namespace
