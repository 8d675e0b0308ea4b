// SPDX-License-Identifier: GPL-3.0-or-later

#include "Form1.h"

namespace game {

namespace {

constexpr std::int16_t kWarningFrom = 8;
constexpr std::int16_t kEscapeTick = 11;

} // namespace

void Form1::Timer3_Timer()
{
    // This timer is not entered again while its own tick waits in the game-over box, so the count
    // stops at the escape tick. Were it entered, the count would stop at the top of the counter
    // rather than wrap round to a second escape.
    addChecked(state_.idleTicks, 1);
    if (state_.idleTicks >= kWarningFrom)
        sound_.PlayEffect(state_.warningSoundPath, 0);
    el("Label7").setCaption(std::to_string(kEscapeTick - state_.idleTicks));
    if (state_.idleTicks == kEscapeTick) {
        sound_.CloseMusic();
        shell_.messageBox("娘さん逃亡…。", "GAME　OVER");
        StopGame();
    }
}

} // namespace game
