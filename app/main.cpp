#include "FirstFrame.h"
#include "Fonts.h"
#include "Form1.h"
#include "FormView.h"
#include "FormWindow.h"
#include "Look.h"
#include "Multimedia32.h"
#include "OmburaVersion.h"
#include "QtShell.h"
#include "QtTimerHost.h"
#include "SoundSystem.h"

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    // The game takes no command line; Qt gets an empty one so nothing can change its behaviour.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    (void)argc;
    QApplication app(qtArgc, qtArgv);
    QApplication::setApplicationName("ombura");
    QApplication::setApplicationVersion(OMBURA_VERSION_TEXT);
    // Ties the windows to the installed menu entry (its icon and name on Wayland). No display
    // name is set: Qt would append it to every title, the dialog's and the message box's too.
    QGuiApplication::setDesktopFileName(OMBURA_APP_ID);
    QApplication::setWindowIcon(windows::qt::programIcon());
    windows::qt::installFontSubstitutes();
    windows::qt::installLook();

    auto sound = app::makeSoundSystem();
    sound::Multimedia32 multimedia(*sound);
    windows::qt::QtTimerHost timers;
    windows::qt::QtShell shell;

    game::Form1 form1(timers, multimedia, shell);
    windows::qt::FormWindow window(form1.form());
    shell.registerWindow(form1.form(), &window);
    form1.Form_Load();
    window.showCentred();
    // Loading the SoundFont and opening the sound libraries is a good deal of work that would
    // otherwise compete with the first frame for the processor and the dynamic loader.
    app::afterFirstFrame(
        window.view(), [&sound] { sound->startBackgroundWork(); }, std::chrono::seconds(2));
    const int status = QApplication::exec();
    // Exit ends the program at once. There is nothing to save, and a SoundFont that is still
    // loading at idle priority must not hold the end up: on a busy machine that can take long.
    std::fflush(nullptr);
    std::_Exit(status);
}
