// SPDX-License-Identifier: GPL-3.0-or-later

#include "GameState.h"

#include "DataFiles.h"

#include <limits>

namespace game {

bool addChecked(std::int16_t& counter, int amount)
{
    const int sum = counter + amount;
    if (sum > std::numeric_limits<std::int16_t>::max() || sum < std::numeric_limits<std::int16_t>::min())
        return false;
    counter = static_cast<std::int16_t>(sum);
    return true;
}

DataPaths dataPaths(const std::string& directory, char separator)
{
    // Only the first character is looked at, and only for "\": on this platform a folder always
    // begins with "/", so it always gets its paths. The separator is added even after a folder
    // that already ends with one.
    if (!directory.empty() && directory.front() == '\\')
        return {};
    const std::string base = directory + separator;
    return {base + std::string(assets::kMusicFile), base + std::string(assets::kSpinFile),
            base + std::string(assets::kWarningFile), base + std::string(assets::kSlashFile)};
}

} // namespace game
