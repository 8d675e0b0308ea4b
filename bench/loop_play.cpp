// SPDX-License-Identifier: GPL-3.0-or-later

// The running game's music loop, for bench/loop_seam.py: the real game, Qt timer host and sound
// output. It waits until the SoundFont is in, waits `delay` seconds more, chooses Start and
// lets the tune loop `loops` times, pressing the figure now and then so that the countdown never
// runs out, but never in the 2.5 s before a restart or the 1.5 s after one, so that only the
// tune sounds there. The intruders are stopped (Command2), so every press scores.
//
//   loop_play <delay seconds> <loops> <seconds between restarts, a guess>
//
// Prints `start <ns>` when Start is chosen, `ended <ns>` when the device first reads stopped
// after a start (asked every 5 ms), and `restart <ns>` at each watchdog tick that finds the tune
// ended, all on the monotonic clock, then `ticks <n>`.
#include "Form1.h"
#include "QtShell.h"
#include "QtTimerHost.h"
#include "SoundSystem.h"

#include <QApplication>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

long long monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <delay seconds> <loops> <seconds between restarts>\n", argv[0]);
        return 2;
    }
    const double delay = std::atof(argv[1]);
    const int loops = std::atoi(argv[2]);
    const double period = std::atof(argv[3]);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app::SoundSystem sound;
    sound::Multimedia32 multimedia(sound.engine());
    form::qt::QtTimerHost timers;
    form::qt::QtShell shell;
    game::Form1 form1(timers, multimedia, shell);
    form1.Form_Load();
    const game::GameState& state = form1.state();
    sound.startBackgroundWork({state.spinSoundPath, state.warningSoundPath, state.slashSoundPath});
    if (!sound.engine().music().waitUntilReady(std::chrono::seconds(60)) || !sound.engine().music().hasSynth()) {
        std::fprintf(stderr, "loop_play: no SoundFont or no FluidSynth\n");
        return 1;
    }

    int ticks = 0;
    bool playing = false;
    form1.form().on("bgm", form::Event::Timer, [&] {
        ++ticks;
        if (multimedia.GetMusicMode() == "STOPPED") {
            std::printf("restart %lld\n", monotonicNs());
            playing = true;
        }
        form1.bgm_Timer();
    });
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (playing && multimedia.GetMusicMode() == "STOPPED") {
            std::printf("ended %lld\n", monotonicNs());
            playing = false;
        }
    });
    long long started = 0;
    QTimer presses;
    QObject::connect(&presses, &QTimer::timeout, [&] {
        const double into = std::fmod(static_cast<double>(monotonicNs() - started) / 1e9, period);
        if (into > 1.5 && into < period - 2.5)
            form1.form().press({215 * 15, 160 * 15}, form::MouseButton::Left);
    });
    QTimer::singleShot(static_cast<int>(delay * 1000), [&] {
        started = monotonicNs();
        std::printf("start %lld\n", started);
        form1.form().chooseMenu("mnuStart");
        form1.Command2_Click();
        playing = true;
        poll.start(5);
        presses.start(3000);
        QTimer::singleShot(static_cast<int>((loops * period + 6) * 1000), [] { QApplication::quit(); });
    });
    QApplication::exec();
    std::printf("ticks %d\n", ticks);
    std::fflush(stdout);
    form1.form().chooseMenu("mnuExit");
    return 0;
}
