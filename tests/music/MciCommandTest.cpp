// SPDX-License-Identifier: GPL-3.0-or-later

#include "MciCommand.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using sound::MciError;
using sound::MciVerb;
using sound::parseMciCommand;

namespace {

struct ParseCase {
    std::string text;
    MciError error;
    MciVerb verb = MciVerb::Status;
    std::string alias = {};
    std::string element = {};
    std::string type = {};
    std::vector<std::string> items = {};
};

TEST(MciCommand, ParsesEveryShapeTheGameAndItsNeighboursSend)
{
    using namespace std::string_literals;
    const std::vector<ParseCase> cases = {
        // The game's own commands, character for character.
        {"stop midifile ", MciError::Ok, MciVerb::Stop, "midifile"},
        {"close midifile", MciError::Ok, MciVerb::Close, "midifile"},
        {"STOP MIDIFILE ", MciError::Ok, MciVerb::Stop, "midifile"},
        {"play midifile", MciError::Ok, MciVerb::Play, "midifile"},
        {"status midifile mode", MciError::Ok, MciVerb::Status, "midifile", "", "", {"mode"}},
        {"open /g/bgm.dat type sequencer alias midifile", MciError::Ok, MciVerb::Open, "midifile", "/g/bgm.dat",
         "sequencer"},
        // Case, blanks and tabs.
        {"Status MidiFile MODE\t \t", MciError::Ok, MciVerb::Status, "midifile", "", "", {"mode"}},
        {"  play   midifile  ", MciError::Ok, MciVerb::Play, "midifile"},
        {"OPEN /G/Bgm.Dat TYPE Sequencer ALIAS MidiFile  ", MciError::Ok, MciVerb::Open, "midifile", "/G/Bgm.Dat",
         "sequencer"},
        // The element is everything before the last clause, blanks and keywords included.
        {"open /home/a b/ombura/bgm.dat type sequencer alias midifile", MciError::Ok, MciVerb::Open, "midifile",
         "/home/a b/ombura/bgm.dat", "sequencer"},
        {"open /x type waveaudio alias y/bgm.dat type sequencer alias midifile", MciError::Ok, MciVerb::Open,
         "midifile", "/x type waveaudio alias y/bgm.dat", "sequencer"},
        {"open /x alias y type waveaudio/bgm.dat type sequencer alias midifile", MciError::Ok, MciVerb::Open,
         "midifile", "/x alias y type waveaudio/bgm.dat", "sequencer"},
        {"open /a/ type sequencer alias midifile type sequencer alias m2", MciError::Ok, MciVerb::Open, "m2",
         "/a/ type sequencer alias midifile", "sequencer"},
        {"open /x.mid alias m type sequencer", MciError::Ok, MciVerb::Open, "m", "/x.mid", "sequencer"},
        // One blank separates the element on each side; more belong to the path.
        {"open  /x.mid  type sequencer alias m", MciError::Ok, MciVerb::Open, "m", " /x.mid ", "sequencer"},
        // A NUL ends the command, as it ends a C string.
        {"play a\0 b"s, MciError::Ok, MciVerb::Play, "a"},
        // Failures.
        {"", MciError::MissingCommandString},
        {"   \t ", MciError::MissingCommandString},
        {"\0play midifile"s, MciError::MissingCommandString},
        {"pause midifile", MciError::UnrecognizedCommand},
        {"playx midifile", MciError::UnrecognizedCommand},
        {"play", MciError::MissingDeviceName},
        {"status   ", MciError::MissingDeviceName},
        {"open", MciError::MissingDeviceName},
        {"open /x.mid", MciError::DeviceTypeRequired},
        {"open /x.mid alias m", MciError::DeviceTypeRequired},
        {"open /x.mid type sequencer", MciError::MissingParameter},
        {"open /x.mid type sequencer alias m wait", MciError::DeviceTypeRequired},
        {"open type sequencer alias m", MciError::FilenameRequired},
        {"open  type sequencer alias m", MciError::FilenameRequired},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.text);
        const sound::MciParse p = parseMciCommand(c.text);
        EXPECT_EQ(p.error, c.error);
        if (c.error != MciError::Ok)
            continue;
        EXPECT_EQ(p.command.verb, c.verb);
        EXPECT_EQ(p.command.alias, c.alias);
        EXPECT_EQ(p.command.element, c.element);
        EXPECT_EQ(p.command.type, c.type);
        EXPECT_EQ(p.command.items, c.items);
    }
}

} // namespace
