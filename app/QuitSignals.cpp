// SPDX-License-Identifier: GPL-3.0-or-later

#include "QuitSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

namespace app {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The handler only notes the signal and writes a byte to the pipe (both async-signal-safe); the
// UI thread reads it through the notifier.
volatile std::sig_atomic_t signalled = 0;
int pipeEnds[2] = {-1, -1};

void onSignal(int signal)
{
    signalled = signal;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(pipeEnds[1], &byte, 1);
}

} // namespace

QuitSignals::QuitSignals(std::function<void()> quit) : quit_(std::move(quit))
{
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // the signals keep their default: they end the program at once
    notifier_ = std::make_unique<QSocketNotifier>(pipeEnds[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        char bytes[16];
        while (::read(pipeEnds[0], bytes, sizeof bytes) > 0) { }
        quit_();
    });
    struct sigaction action{};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    // SA_RESETHAND: the next one takes its default course.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int s : kSignals)
        sigaction(s, &action, nullptr);
}

QuitSignals::~QuitSignals()
{
    for (int s : kSignals)
        std::signal(s, SIG_DFL);
    notifier_.reset();
    for (int& end : pipeEnds) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}

int QuitSignals::received()
{
    return signalled;
}

} // namespace app
