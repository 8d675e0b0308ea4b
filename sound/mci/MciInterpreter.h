// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "Sequencer.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace sound {

// What the command-string call returns. The numbers are the classic multimedia ones, so a
// caller that knows them (or a log of them) reads the same thing it would elsewhere.
enum class MciError : std::uint32_t {
    Ok = 0,
    UnrecognizedKeyword = 259,
    UnrecognizedCommand = 261,
    InvalidDeviceName = 263, // no device is open under that alias
    OutOfMemory = 264,
    MissingCommandString = 267,
    ParamOverflow = 268, // the reply did not fit; what fitted was written
    MissingParameter = 273,
    FileNotFound = 275,
    Internal = 277,
    DeviceTypeRequired = 287,
    DuplicateAlias = 289,
    MissingDeviceName = 292,
    InvalidFile = 296,
    FilenameRequired = 304,
    DeviceNotInstalled = 306, // a device type we have no driver for
    SequencerPortInUse = 337, // the one sequencer is already open under another alias
};

constexpr std::uint32_t code(MciError e)
{
    return static_cast<std::uint32_t>(e);
}

// The command-string call with its one device type, "sequencer": a MIDI file opened under an
// alias and played by the one Sequencer. As with the classic sequencer, only one can be open at
// a time. Five verbs: open, close, play, stop and "status <alias> mode", which answers
// "playing" or "stopped". Words are matched in any letter case; the element of an open keeps
// its exact text, because it names a file.
//
// UI thread only; failures come back as codes and are never thrown.
class MciInterpreter {
public:
    // `started` is called when a play makes the tune start sounding, so the output can wake.
    MciInterpreter(Sequencer& sequencer, std::function<void()> started);

    std::uint32_t send(std::string_view command, char* reply, unsigned capacity);

private:
    using Words = std::vector<std::string_view>;

    MciError run(std::string_view text, std::string& answer);
    MciError open(std::string_view text, std::string_view low, const Words& words);
    MciError runOnDevice(const Words& words, std::string& answer);

    Sequencer& sequencer_;
    std::function<void()> started_;
    std::string alias_; // of the open device, lower case; empty while none is open
};

} // namespace sound
