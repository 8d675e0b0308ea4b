// SPDX-License-Identifier: GPL-3.0-or-later

#include "FirstFrame.h"
#include "Fonts.h"
#include "Form1.h"
#include "FormView.h"
#include "FormWindow.h"
#include "Layouts.h"
#include "Look.h"
#include "Multimedia32.h"
#include "OmburaVersion.h"
#include "PictureDecoder.h"
#include "PictureTable.h"
#include "QtShell.h"
#include "QtTimerHost.h"
#include "QuitSignals.h"
#include "SoundSystem.h"

#include <QApplication>

#include <malloc.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// What the first frame shows, then the window icon's sizes, which are needed only after it.
std::vector<QString> firstPictures()
{
    std::vector<QString> resources;
    for (std::string_view r : assets::picturesShownAtStart(form::form1Layout()))
        resources.push_back(QString::fromUtf8(r.data(), static_cast<qsizetype>(r.size())));
    for (const QString& file : form::qt::programIconFiles())
        resources.push_back(file);
    return resources;
}

} // namespace

int main(int argc, char** argv)
{
    // Two malloc heaps shared by every thread instead of up to eight a core (glibc's default):
    // each heap keeps its own slack, the SoundFont loader's what reading the font's tables
    // freed. One heap would save more, but the threads would wait on each other's allocations
    // while the music plays (docs/PERFORMANCE.md, "Changes", has the figures).
    // Set before any thread starts: a thread's heap is chosen at its first allocation.
    mallopt(M_ARENA_MAX, 2);
    // Blocks of 256 KB and more (a decoded effect, a picture, a SoundFont table) are mapped
    // and given back whole when freed. glibc would otherwise raise this bound the first time
    // such a block is freed and take the next ones from a heap, where what is freed around
    // them stays, and now and then the peak rose by megabytes.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    // The game takes no command line; Qt gets an empty one so nothing can change its behaviour.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    (void)argc;
    QApplication app(qtArgc, qtArgv);
    // Decoding starts on a thread of its own while Qt connects the window and loads its fonts.
    // Not earlier: image loading asks the application for its plugin paths, and a thread that
    // does so while the application is being built reads it half made.
    form::qt::PictureDecoder pictures(firstPictures());
    QApplication::setApplicationName("ombura");
    QApplication::setApplicationVersion(OMBURA_VERSION_TEXT);
    // Ties the windows to the installed menu entry (its icon and name on Wayland). No display
    // name is set: Qt would append it to every title, the dialog's and the message box's too.
    QGuiApplication::setDesktopFileName(OMBURA_APP_ID);
    form::qt::installFontSubstitutes();
    form::qt::installLook();
    // One face for the menus, the message box and the labels: the menus' Japanese then needs no
    // search for a fallback font, and the program loads one font where it loaded three.
    QApplication::setFont(form::qt::fontFor(form::Font{}));

    app::SoundSystem sound;
    sound::Multimedia32 multimedia(sound.engine());
    form::qt::QtTimerHost timers;
    form::qt::QtShell shell;
    app::QuitSignals quitSignals([&shell] { shell.endProgram(); });

    game::Form1 form1(timers, multimedia, shell);
    form::qt::FormWindow window(form1.form());
    window.view()->setPictureSource([&pictures](const QString& resource) { return pictures.take(resource); });
    shell.registerWindow(form1.form(), &window);
    form1.Form_Load();
    window.showCentred();
    // The icon at every size makes a large property for the X server (a third of a megabyte) and
    // eight pictures to decode: the frame and the taskbar can have it a moment after the window.
    app::afterFirstFrame(
        window.view(),
        [&pictures] {
            QApplication::setWindowIcon(
                form::qt::programIcon([&pictures](const QString& file) { return pictures.take(file); }));
        },
        std::chrono::seconds(2));
    // Loading the SoundFont and opening the sound libraries is a good deal of work that would
    // otherwise compete with the first frame for the processor and the dynamic loader.
    app::afterFirstFrame(
        window.view(),
        [&sound, &form1] {
            const game::GameState& state = form1.state();
            sound.startBackgroundWork({state.spinSoundPath, state.warningSoundPath, state.slashSoundPath});
        },
        std::chrono::seconds(2));
    const int status = QApplication::exec();
    // 終了, the window closed or a quit signal. What sounds fades out and the audio device
    // closes; then the program ends at once. There is nothing to save, and a SoundFont that is
    // still loading must not hold the end up: on a busy machine that can take long. Nothing is
    // destroyed, so nothing is freed under the loader either.
    sound.shutDown();
    std::fflush(nullptr);
    if (const int signal = app::QuitSignals::received()) {
        // Whoever sent it sees the program end by it, as it asked.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    std::_Exit(status);
}
