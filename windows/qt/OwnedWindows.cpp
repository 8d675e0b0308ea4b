// SPDX-License-Identifier: GPL-3.0-or-later

#include "OwnedWindows.h"

#include <QDialog>
#include <QEventLoop>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace windows::qt {

namespace {

// How long a compositor may take to hand the keyboard over after an activation request (a token
// round trip where it has xdg-activation) before the window is mapped afresh instead.
constexpr int kActivationGraceMs = 150;

// Qt's own Wayland title bar ("bradient", the only one Debian ships) centres the title on the
// whole width in a 14 px font, and clips it where its three 18 px buttons begin: 5 px apart,
// 8 px from the right edge, with 5 px to spare before them. A title that is to show in full
// therefore needs that much room on both sides of it.
constexpr int kQtTitlePixelSize = 14;
constexpr int kQtTitleButtonsRoom = 3 * 18 + 2 * 5 + 8 + 5;
// Rounding in the centring, and the anti-aliased edge of the last glyph.
constexpr int kQtTitleSlack = 4;

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

int clientWidthForTitle(const QWidget* owner, const QString& title)
{
    if (!owner || !onWayland())
        return 0;
    const QWindow* handle = owner->windowHandle();
    // Qt reports its own frame as the window's frame margins; a frame the compositor draws
    // itself is not the program's to measure, and the margins are then empty.
    const QMargins frame = handle ? handle->frameMargins() : QMargins();
    if (frame.top() <= 0)
        return 0;
    QFont font = QGuiApplication::font();
    font.setPixelSize(kQtTitlePixelSize);
    const int titleWidth = QFontMetrics(font).horizontalAdvance(title);
    return titleWidth + 2 * kQtTitleButtonsRoom + kQtTitleSlack - frame.left() - frame.right();
}

void makeRoomForTitle(QDialog& dialog, const QWidget* owner)
{
    const int width = clientWidthForTitle(owner, dialog.windowTitle());
    auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
    if (width <= 0 || !grid)
        return;
    // An empty item across the first row sets the least width; a message box sizes itself to
    // its layout's least width when it is shown.
    const QMargins margins = grid->contentsMargins();
    grid->addItem(
        new QSpacerItem(width - margins.left() - margins.right(), 0, QSizePolicy::Fixed, QSizePolicy::Minimum), 0, 0, 1,
        std::max(1, grid->columnCount()));
}

} // namespace windows::qt
