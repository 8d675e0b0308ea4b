#include "Form1.h"

namespace game {

namespace {

constexpr std::int16_t kWarningFrom = 8;
constexpr std::int16_t kEscapeTick = 11;

} // namespace

void Form1::Timer3_Timer()
{
    // The count goes past the escape tick only while the game-over box is open; it stops at the
    // top of the counter rather than wrapping round to a second escape.
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
