// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QSocketNotifier>

#include <functional>
#include <memory>

namespace app {

// SIGTERM, SIGINT and SIGHUP (the session ending, a service manager, Ctrl-C) end the program
// the way 終了 does: `quit` runs on the UI thread and ends the event loop, and main() stops the
// sound before the process goes. A second signal of the same kind ends the program at once, in
// case the first could not be served.
class QuitSignals {
public:
    explicit QuitSignals(std::function<void()> quit);
    ~QuitSignals();
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

    // The signal that asked the program to end, or 0.
    static int received();

private:
    std::function<void()> quit_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace app
