// SPDX-License-Identifier: GPL-3.0-or-later

#include "GameFixture.h"

#include <malloc.h>

using testing_support::GameTest;

namespace {

std::size_t heapInUse()
{
    return mallinfo2().uordblks;
}

class SoakTest : public GameTest {
protected:
    void checkInvariants()
    {
        const game::GameState& s = state();
        ASSERT_GE(s.score, 0);
        ASSERT_GE(s.level, 1);
        ASSERT_LE(s.level, 3);
        ASSERT_GE(s.idleTicks, 0);
        ASSERT_LE(s.idleTicks, 11);
        ASSERT_GE(s.flashTicks, 0);
        ASSERT_LE(s.flashTicks, 2);
        ASSERT_GE(form1.spinStep(), 0);
        ASSERT_LE(form1.spinStep(), 5);
        if (s.intruderCode) {
            ASSERT_TRUE(*s.intruderCode == 0 || *s.intruderCode == 1);
        }
        ASSERT_LE(clock.runningTimers(), 5u);
        ASSERT_EQ(form().elements().size(), 36u);
        ASSERT_EQ(form().timers().size(), 5u);
        int shown = 0;
        for (const char* name : {"Image2", "Image12", "Image13", "Image14"})
            shown += el(name).visible();
        ASSERT_LE(shown, 1);
    }
};

} // namespace

// A long day at the game: a million presses at a player's pace, intruders, catches, idle spells
// that end in escapes, and restarts. Nothing may leave its range and nothing may pile up.
TEST_F(SoakTest, AMillionPressesAndADayOfTicks)
{
    platform.commands.reserve(1 << 20);
    start();
    std::uint64_t rng = 0x2545F4914F6CDD1DULL;
    auto next = [&] {
        rng ^= rng << 13;
        rng ^= rng >> 7;
        rng ^= rng << 17;
        return rng;
    };
    std::size_t heapAtHalf = 0;
    const int presses = 1'000'000;
    for (int i = 0; i < presses; ++i) {
        timeOfDay = next();
        pressFigure();
        // Mostly quick presses, now and then a pause long enough to lose the girl.
        const std::uint64_t r = next() % 1000;
        clock.advance(r < 998 ? 40 + static_cast<std::int64_t>(r % 120) : 12'000);
        if (!timer("Timer3").enabled())
            start();
        if (i % 4096 == 0) {
            checkInvariants();
            platform.commands.clear();
            platform.effects.clear();
            shell.boxes.clear();
        }
        if (i == presses / 2)
            heapAtHalf = heapInUse();
    }
    EXPECT_GE(clock.now(), 86'400'000) << "less than a day went by";
    checkInvariants();
    platform.commands.clear();
    platform.effects.clear();
    shell.boxes.clear();
    // Some slack for the recording vectors' capacity; a leak per press would be megabytes.
    EXPECT_LT(heapInUse(), heapAtHalf + 256 * 1024);
}
