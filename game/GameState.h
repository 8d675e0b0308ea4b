// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace game {

// The main window's record of a game. Counters are signed 16-bit, as the game has always kept
// them; every addition goes through addChecked so none of them can wrap.
struct GameState {
    std::int16_t score = 0;
    std::int16_t level = 0;
    std::int16_t idleTicks = 0;
    std::int16_t flashTicks = 0;
    std::int16_t intruderRoll = 0;
    std::optional<std::int16_t> intruderCode; // no value before the first intruder roll
    std::string musicPath;
    std::string spinSoundPath;
    std::string warningSoundPath;
    std::string slashSoundPath;
};

// Adds to a 16-bit counter; a sum past the limit leaves the counter as it was.
// Returns whether the addition happened.
bool addChecked(std::int16_t& counter, int amount);

struct DataPaths {
    std::string music;
    std::string spinSound;
    std::string warningSound;
    std::string slashSound;
};

// The four data files lie in the program's folder. A folder that starts with the separator
// (a network path where the separator is "\") gets none, as it always has.
DataPaths dataPaths(const std::string& directory, char separator);

} // namespace game

namespace game {

// An intruder roll from 1 to 100, every value equally likely, from one reading of the clock.
std::int16_t rollFromTimeOfDay(std::uint64_t timeOfDay);

} // namespace game
