// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <string>
#include <string_view>

namespace form {

class Timer;

// What drives timers: QTimer in the program, a manual clock in tests.
class TimerHost {
public:
    enum class Change { Started, Stopped, Restarted };
    virtual ~TimerHost() = default;
    virtual void timerChanged(Timer& timer, Change change) = 0;
    virtual void timerDestroyed(Timer& timer) = 0;
};

struct TimerLayout {
    std::string_view name;
    int interval = 0; // milliseconds
    bool enabled = false;
};

class Form;

// A window timer: while enabled it ticks every interval. Enabling a running timer leaves its
// period alone; setting the interval starts a fresh period, as the old window timers did.
// An interval of 0 never ticks.
class Timer {
public:
    Timer(Form& owner, const TimerLayout& layout, TimerHost* host);
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    const std::string& name() const { return name_; }
    int interval() const { return interval_; }
    bool enabled() const { return enabled_; }
    bool running() const { return enabled_ && interval_ > 0; }

    void setEnabled(bool enabled);
    void setInterval(int ms);

    // Called by the host when a period has passed.
    void tick();

private:
    void notify(TimerHost::Change change);

    Form& owner_;
    std::string name_;
    int interval_;
    bool enabled_;
    TimerHost* host_;
};

} // namespace form
