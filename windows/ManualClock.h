#pragma once

#include "Timer.h"

#include <cstdint>
#include <vector>

namespace windows {

// Drives timers from a clock that only moves when told to. advance() fires every tick that
// falls due, in time order (ties in the order the timers were started), with no sleeping.
// A handler may advance the clock itself, as a test's stand-in for a modal box does.
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
};

} // namespace windows
