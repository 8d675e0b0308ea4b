// SPDX-License-Identifier: GPL-3.0-or-later

#include "Timer.h"

#include "Form.h"

namespace form {

Timer::Timer(Form& owner, const TimerLayout& layout, TimerHost* host)
    : owner_(owner), name_(layout.name), interval_(layout.interval), enabled_(layout.enabled), host_(host)
{
    if (running())
        notify(TimerHost::Change::Started);
}

Timer::~Timer()
{
    if (host_)
        host_->timerDestroyed(*this);
}

void Timer::notify(TimerHost::Change change)
{
    if (host_)
        host_->timerChanged(*this, change);
}

void Timer::setEnabled(bool enabled)
{
    if (enabled_ == enabled)
        return;
    enabled_ = enabled;
    if (interval_ > 0)
        notify(enabled ? TimerHost::Change::Started : TimerHost::Change::Stopped);
}

void Timer::setInterval(int ms)
{
    const bool wasRunning = running();
    interval_ = ms < 0 ? 0 : ms;
    if (running())
        notify(wasRunning ? TimerHost::Change::Restarted : TimerHost::Change::Started);
    else if (wasRunning)
        notify(TimerHost::Change::Stopped);
}

void Timer::tick()
{
    // A tick that was already queued when the timer went off must not run its handler.
    if (running())
        owner_.raise(name_, Event::Timer);
}

} // namespace form
