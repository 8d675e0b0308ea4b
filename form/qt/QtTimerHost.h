// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "Timer.h"

#include <QTimer>

#include <memory>
#include <unordered_map>

namespace form::qt {

// Drives model timers with precise QTimers on the user-interface thread. Ticks keep coming
// while a modal box runs its own event loop.
class QtTimerHost : public TimerHost {
public:
    QtTimerHost() = default;
    ~QtTimerHost() override;
    QtTimerHost(const QtTimerHost&) = delete;
    QtTimerHost& operator=(const QtTimerHost&) = delete;

    void timerChanged(Timer& timer, Change change) override;
    void timerDestroyed(Timer& timer) override;

private:
    std::unordered_map<Timer*, std::unique_ptr<QTimer>> timers_;
};

} // namespace form::qt
