// SPDX-License-Identifier: GPL-3.0-or-later

#include "Form1.h"

#include <array>

namespace game {

namespace {

struct LevelStep {
    std::int16_t score;
    std::int16_t level; // 0 leaves the level as it is
    int rollInterval; // ms between intruder rolls
    std::string_view stage;
    bool changeCostume;
};

// Only these exact scores do anything; a score that jumps past one never sees it.
constexpr std::array<LevelStep, 6> kLevelSteps{{
    {20, 0, 500, "2", false},
    {40, 2, 1000, "3", false},
    {60, 2, 1000, "4", false},
    {80, 0, 500, "5", false},
    {100, 3, 1000, "6", true},
    {120, 0, 500, "7", false},
}};

} // namespace

void Form1::CheckLevel()
{
    for (const LevelStep& step : kLevelSteps) {
        if (step.score != state_.score)
            continue;
        if (step.level != 0)
            state_.level = step.level;
        timer("Timer2").setInterval(step.rollInterval);
        el("Label11").setCaption(std::string(step.stage));
        if (step.changeCostume)
            ChangeCostume();
        return;
    }
}

} // namespace game
