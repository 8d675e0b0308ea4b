// SPDX-License-Identifier: GPL-3.0-or-later

#include "QtTimerHost.h"

namespace form::qt {

QtTimerHost::~QtTimerHost() = default;

void QtTimerHost::timerChanged(Timer& timer, Change change)
{
    auto& qtimer = timers_[&timer];
    if (!qtimer) {
        qtimer = std::make_unique<QTimer>();
        qtimer->setTimerType(Qt::PreciseTimer);
        QObject::connect(qtimer.get(), &QTimer::timeout, [t = &timer] { t->tick(); });
    }
    if (change == Change::Stopped)
        qtimer->stop();
    else
        qtimer->start(timer.interval());
}

void QtTimerHost::timerDestroyed(Timer& timer)
{
    timers_.erase(&timer);
}

} // namespace form::qt
