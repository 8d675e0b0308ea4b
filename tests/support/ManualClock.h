// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "Timer.h"

#include <cstdint>
#include <vector>

namespace form {

// Drives timers from a clock that only moves when told to. advance() fires every tick that
// falls due, in time order (ties in the order the timers were started), with no sleeping.
// A handler may advance the clock itself, as a test's stand-in for a modal box does. Meanwhile
// its own timer waits, as a QTimer whose handler has not returned does: the periods it missed
// come as one tick once the handler is back, and the timer keeps its phase from there.
class ManualClock : public TimerHost {
public:
    std::int64_t now() const { return now_; }
    std::size_t runningTimers() const { return entries_.size(); }
    void advance(std::int64_t ms);

    void timerChanged(Timer& timer, Change change) override;
    void timerDestroyed(Timer& timer) override;

private:
    struct Entry {
        Timer* timer;
        std::int64_t due;
        std::uint64_t order;
    };

    std::int64_t now_ = 0;
    std::uint64_t nextOrder_ = 0;
    std::vector<Entry> entries_;
    std::vector<const Timer*> ticking_; // timers whose handler is running
};

} // namespace form
