#include "ManualClock.h"

#include <algorithm>

namespace windows {

void ManualClock::timerChanged(Timer& timer, Change change)
{
    std::erase_if(entries_, [&](const Entry& e) { return e.timer == &timer; });
    if (change != Change::Stopped)
        entries_.push_back({&timer, now_ + timer.interval(), nextOrder_++});
}

void ManualClock::timerDestroyed(Timer& timer)
{
    std::erase_if(entries_, [&](const Entry& e) { return e.timer == &timer; });
}

void ManualClock::advance(std::int64_t ms)
{
    const std::int64_t target = now_ + ms;
    for (;;) {
        auto next = std::min_element(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
            return a.due != b.due ? a.due < b.due : a.order < b.order;
        });
        if (next == entries_.end() || next->due > target)
            break;
        Timer* timer = next->timer;
        now_ = std::max(now_, next->due);
        next->due += timer->interval();
        next->order = nextOrder_++;
        timer->tick();
    }
    now_ = std::max(now_, target);
}

} // namespace windows
