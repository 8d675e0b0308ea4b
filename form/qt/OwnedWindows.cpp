// SPDX-License-Identifier: GPL-3.0-or-later

#include "OwnedWindows.h"

#include <QDialog>
#include <QEventLoop>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace form::qt {

namespace {

// How long a compositor may take to hand the keyboard over after an activation request (a token
// round trip where it has xdg-activation) before the window is mapped afresh instead.
constexpr int kActivationGraceMs = 150;

void unminimise(QWidget& window)
{
    // Qt's own title bar minimises the native window behind the widget's back: both forget it.
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    if (QWindow* handle = window.windowHandle())
        handle->setWindowStates(handle->windowStates() & ~Qt::WindowMinimized);
}

void mapAfresh(QWidget& window)
{
    // A new surface is a new toplevel for the compositor: in front, with the keyboard, and not
    // minimised whatever became of the old one. The window's Qt state (its focus widget, a modal
    // wait in runModal) carries over.
    unminimise(window);
    window.hide();
    window.show();
}

} // namespace

bool onWayland()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void setOwner(QWidget& window, QWidget* owner)
{
    if (!owner || owner == &window)
        return;
    // The native window must exist before it can name its parent; Qt keeps the link when it
    // maps the window later.
    window.winId();
    owner->winId();
    if (QWindow* handle = window.windowHandle())
        handle->setTransientParent(owner->windowHandle());
}

void showNoIcon(QWidget& window)
{
    QPixmap empty(16, 16);
    empty.fill(Qt::transparent);
    window.setWindowIcon(QIcon(empty));
}

void bringForward(QWidget& window)
{
    window.raise();
    window.activateWindow();
    if (!onWayland())
        return;
    QTimer::singleShot(kActivationGraceMs, &window, [&window] {
        if (window.isVisible() && !window.isActiveWindow())
            mapAfresh(window);
    });
}

void keepReachable(QWidget& window)
{
    // The window's own state, not the widget's event: Qt's own title bar minimises the window
    // behind the widget's back, and only the native window hears of it.
    window.winId();
    QWindow* handle = window.windowHandle();
    if (!handle)
        return;
    QObject::connect(handle, &QWindow::windowStateChanged, &window, [&window](Qt::WindowState state) {
        if (state != Qt::WindowMinimized)
            return;
        QTimer::singleShot(0, &window, [&window] {
            if (onWayland())
                mapAfresh(window);
            else
                unminimise(window);
        });
    });
}

void runModal(QDialog& dialog)
{
    dialog.setWindowModality(Qt::ApplicationModal);
    QEventLoop wait;
    QObject::connect(&dialog, &QDialog::finished, &wait, &QEventLoop::quit);
    dialog.show();
    wait.exec(QEventLoop::DialogExec);
}

} // namespace form::qt
