// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>

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

} // namespace sound
