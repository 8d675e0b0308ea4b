// SPDX-License-Identifier: GPL-3.0-or-later

#include "ManualClock.h"

#include <algorithm>

namespace form {

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
        const auto ticking = [&](const Entry& e) {
            return std::find(ticking_.begin(), ticking_.end(), e.timer) != ticking_.end();
        };
        Entry* next = nullptr;
        for (Entry& e : entries_)
            if (!ticking(e) && (!next || e.due < next->due || (e.due == next->due && e.order < next->order)))
                next = &e;
        // A handler that held the clock up (a modal box) leaves now past the target: whatever fell
        // due meanwhile is still owed.
        if (!next || next->due > std::max(target, now_))
            break;
        Timer* timer = next->timer;
        now_ = std::max(now_, next->due);
        // Periods that went by unseen are not made up for, as with a precise QTimer.
        next->due += timer->interval();
        if (next->due < now_)
            next->due = now_ + timer->interval();
        next->order = nextOrder_++;
        ticking_.push_back(timer);
        timer->tick();
        ticking_.erase(std::find(ticking_.begin(), ticking_.end(), timer));
    }
    now_ = std::max(now_, target);
}

} // namespace form
