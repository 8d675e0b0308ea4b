// SPDX-License-Identifier: GPL-3.0-or-later

// How closely the spin animation keeps its 100 ms beat in the running program: the real Qt
// timer host, the real game and sound, presses that keep the girl turning, 600 ticks measured.
#include "Form1.h"
#include "QtShell.h"
#include "QtTimerHost.h"
#include "SoundSystem.h"

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app::SoundSystem sound;
    sound::Multimedia32 multimedia(sound.engine());
    form::qt::QtTimerHost timers;
    form::qt::QtShell shell;
    game::Form1 form1(timers, multimedia, shell);
    form1.Form_Load();

    using Clock = std::chrono::steady_clock;
    std::vector<double> deviations;
    Clock::time_point last{};
    // The presses that keep the girl turning are timed too: the whole handler, sound request
    // included, as the press event runs it.
    std::vector<double> pressMicros;
    auto press = [&] {
        const auto t0 = Clock::now();
        form1.form().press({215 * 15, 160 * 15}, form::MouseButton::Left);
        pressMicros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    };
    form1.form().on("Timer1", form::Event::Timer, [&] {
        const auto now = Clock::now();
        // Only intervals inside one turn count; the first tick after a press has no predecessor.
        if (form1.spinStep() > 0)
            deviations.push_back(std::abs(std::chrono::duration<double, std::milli>(now - last).count() - 100.0));
        last = now;
        form1.Timer1_Timer();
        if (form1.spinStep() == 0) {
            if (deviations.size() >= 600)
                QApplication::quit();
            else
                QTimer::singleShot(0, press);
        }
    });
    form1.form().chooseMenu("mnuStart");
    form1.Command2_Click(); // no intruders: every press must score
    press();
    QApplication::exec();

    std::sort(deviations.begin(), deviations.end());
    const double p99 = deviations[static_cast<std::size_t>(0.99 * static_cast<double>(deviations.size() - 1))];
    std::printf("timer1_jitter_median_ms %.3f\n", deviations[deviations.size() / 2]);
    std::printf("timer1_jitter_p99_ms %.3f\n", p99);
    std::sort(pressMicros.begin(), pressMicros.end());
    std::printf("press_handler_median_us %.1f\n", pressMicros[pressMicros.size() / 2]);
    std::printf("press_handler_p99_us %.1f\n",
                pressMicros[static_cast<std::size_t>(0.99 * static_cast<double>(pressMicros.size() - 1))]);
    form1.form().chooseMenu("mnuExit");
    return 0;
}
