// SPDX-License-Identifier: GPL-3.0-or-later

#include "FormWindow.h"

#include "FormAccessibility.h"
#include "FormView.h"
#include "OwnedWindows.h"
#include "QtString.h"
#include "TitleBar.h"
#include "WindowManager.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace form::qt {

FormWindow::FormWindow(Form& form, QWidget* parent) : QMainWindow(parent), form_(form)
{
    // Before anything that can make the window's accessible interface: Qt 6.8 makes it as soon as
    // the title is set, and an interface made before the factory is there is kept for good.
    installFormAccessibility();
    setObjectName(qstr(form.name()));
    setWindowTitle(qstr(form.layout().caption));
    view_ = new FormView(form, this);
    view_->setObjectName(qstr(form.name()) + "View");
    setCentralWidget(view_);
    buildMenus();

    if (form.layout().frame == FrameStyle::FixedToolWindow) {
        // A small title bar with the title only: no window menu and no buttons to close it.
        setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
        setFixedSize(view_->sizeHint() + drawOwnTitleBar(*this, false));
        keepOffTaskbar(this);
        askForFrameWithoutMinimise(this, "UTILITY");
        showNoIcon(*this);
        // Some frames offer a minimise button whatever the dialog asks for; minimised and off
        // the taskbar it could not be found again while the main window waits for its OK.
        keepReachable(*this);
        focusFirstButton();
    } else {
        resize(view_->sizeHint().width(),
               view_->sizeHint().height() + (form.menus().empty() ? 0 : menuBar()->sizeHint().height()));
    }
    form_.setChangeListener([this] { sync(); });
    sync();
}

FormWindow::~FormWindow()
{
    form_.setChangeListener({});
    // The view reads the model to its last moment (assistive tools may ask it as it goes), so it
    // goes first, while a model this window adopted still exists.
    delete view_;
    view_ = nullptr;
}

void FormWindow::buildMenus()
{
    // A form without menus gets no menu bar at all, not even a hidden one that assistive tools
    // would list.
    if (form_.menus().empty())
        return;
    for (const Menu& m : form_.menus()) {
        QMenu* menu = menuBar()->addMenu(qstr(m.caption));
        menu->setObjectName(qstr(m.name));
        for (const MenuEntry& entry : m.entries) {
            if (entry.isSeparator()) {
                QAction* sep = menu->addSeparator();
                sep->setObjectName(qstr(entry.name));
                continue;
            }
            QAction* a = menu->addAction(qstr(entry.caption));
            a->setObjectName(qstr(entry.name));
            connect(a, &QAction::triggered, this, [this, name = entry.name] { form_.chooseMenu(name); });
            actions_[entry.name] = a;
        }
    }
}

QAction* FormWindow::action(const std::string& entry) const
{
    auto it = actions_.find(entry);
    return it == actions_.end() ? nullptr : it->second;
}

void FormWindow::sync()
{
    for (const Menu& m : form_.menus())
        for (const MenuEntry& entry : m.entries)
            if (QAction* a = action(entry.name))
                a->setEnabled(entry.enabled);
    // A disabled form takes no input at all, its menus included; its timers run on.
    setEnabled(form_.enabled());
    view_->sync();
}

void FormWindow::centreOnScreen(const QMargins& frame)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect outer(QPoint(0, 0), size().grownBy(frame));
    outer.moveCenter(screen->availableGeometry().center());
    // The client area goes where it must lie inside that frame; the window manager puts the frame
    // around it.
    setGeometry(QRect(outer.topLeft() + QPoint(frame.left(), frame.top()), size()));
    centredWith_ = frame;
}

void FormWindow::showCentred()
{
    if (!shownOnce_) {
        shownOnce_ = true;
        (void)winId(); // the native window must exist to ask about its frame
        // The window manager counts in the display's pixels, the window in Qt's.
        const QMargins asked = askFrameExtents(this).value_or(QMargins());
        const qreal ratio = devicePixelRatioF();
        centreOnScreen(QMargins(qRound(asked.left() / ratio), qRound(asked.top() / ratio),
                                qRound(asked.right() / ratio), qRound(asked.bottom() / ratio)));
        // A window manager that could not say in advance shows its frame once the window is up;
        // the window then moves once so that the frame, not the client area, is centred.
        QTimer::singleShot(300, this, [this] {
            const QMargins frame(geometry().left() - frameGeometry().left(), geometry().top() - frameGeometry().top(),
                                 frameGeometry().right() - geometry().right(),
                                 frameGeometry().bottom() - geometry().bottom());
            if (frame != centredWith_ && !frame.isNull())
                centreOnScreen(frame);
        });
    }
    show();
    raise();
    activateWindow();
    focusFirstButton();
}

void FormWindow::focusFirstButton()
{
    // The dialog's OK is its only control: it holds the focus, so Enter and Space press it.
    if (form_.layout().frame != FrameStyle::FixedToolWindow)
        return;
    for (const Element& e : form_.elements())
        if (e.kind() == ElementKind::PushButton && e.visible() && e.enabled())
            if (QPushButton* b = view_->button(e.name())) {
                b->setFocus(Qt::ActiveWindowFocusReason);
                return;
            }
}

void FormWindow::changeEvent(QEvent* event)
{
    // A window that waits for another takes no keyboard input: if a click activates it anyway,
    // the activation goes on to the window that is waiting for the player, so Enter reaches its OK.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && waitingWindow())
        QTimer::singleShot(0, this, [this] { handActivationOn(); });
    QMainWindow::changeEvent(event);
}

QWidget* FormWindow::waitingWindow() const
{
    // A modal box (the game over) comes first: while it is up, nothing else takes input.
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal != this ? modal : nullptr;
    if (form_.enabled())
        return nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* other = qobject_cast<FormWindow*>(w);
        if (other && other != this && other->isVisible() && other->form_.enabled())
            return other;
    }
    return nullptr;
}

void FormWindow::handActivationOn()
{
    if (!isActiveWindow())
        return;
    if (QWidget* waiting = waitingWindow())
        bringForward(*waiting);
}

void FormWindow::closeEvent(QCloseEvent* event)
{
    // A disabled window's frame takes no input, and the dialog closes only through its OK: a
    // close request from the window manager (Alt+F4, a taskbar menu) is turned down.
    if (!form_.enabled() || form_.layout().frame == FrameStyle::FixedToolWindow) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void FormWindow::keyPressEvent(QKeyEvent* event)
{
    // F10 does what Alt alone does: the first menu title lights up, and Down or Return opens
    // it. The layout gives the menus no keys of their own. The menu bar's own Alt handling is
    // reused by showing it the Alt press and release it waits for.
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::NoModifier && !form_.menus().empty()) {
        QKeyEvent override(QEvent::ShortcutOverride, Qt::Key_Alt, Qt::AltModifier);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Alt, Qt::NoModifier);
        for (QKeyEvent* e : {&override, &press, &release})
            QCoreApplication::sendEvent(this, e);
        return;
    }
    QMainWindow::keyPressEvent(event);
}

} // namespace form::qt
