// SPDX-License-Identifier: GPL-3.0-or-later

#include "QtShell.h"

#include "FormWindow.h"
#include "Look.h"
#include "OwnedWindows.h"
#include "QtString.h"
#include "TitleBar.h"
#include "WindowManager.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

namespace form::qt {

namespace {

// The event loop ends only after the current round of events, and a timer that fell due in that
// round would still run its handler. Nothing of the game may run once Exit has returned, so from
// then on every event of the program goes nowhere.
class SwallowEverything : public QObject {
protected:
    bool eventFilter(QObject*, QEvent*) override { return true; }
};

} // namespace

QtShell::QtShell() = default;

QtShell::~QtShell()
{
    if (ended_ && QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(ended_.get());
}

void QtShell::registerWindow(Form& form, FormWindow* window)
{
    windows_[&form] = window;
    // The first window the program makes itself is its main window, the owner of the others.
    if (!owner_)
        owner_ = window;
}

FormWindow* QtShell::windowOf(const Form& form) const
{
    auto it = windows_.find(&form);
    return it == windows_.end() ? nullptr : it->second;
}

void QtShell::showForm(Form& form)
{
    FormWindow* window = windowOf(form);
    if (!window) {
        // A top-level window of its own, kept over the main window by the desktop.
        window = new FormWindow(form);
        setOwner(*window, owner_);
        windows_[&form] = window;
    }
    window->showCentred();
}

void QtShell::discardForm(std::unique_ptr<Form> form)
{
    if (!form)
        return;
    FormWindow* window = windowOf(*form);
    windows_.erase(form.get());
    if (!window)
        return;
    // The model may still be on the call stack (its own button's click): it goes with the
    // window once control is back in the event loop.
    window->adopt(std::move(form));
    window->hide();
    window->deleteLater();
}

void QtShell::messageBox(const std::string& prompt, const std::string& title)
{
    const QString caption = qstr(title);
    QMessageBox box(QMessageBox::NoIcon, caption, qstr(prompt), QMessageBox::Ok);
    box.setObjectName("MessageBox");
    box.setDefaultButton(QMessageBox::Ok);
    // A box is sized by its text, and a short text leaves the frame too narrow for the title. The
    // box fixes its own size from its layout, so the width goes in as a spacer across the layout.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        const QMargins m = grid->contentsMargins();
        const int width = widthForTitle(caption) - m.left() - m.right();
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Fixed, QSizePolicy::Minimum), grid->rowCount(), 0, 1,
                      grid->columnCount());
    }
    drawOwnTitleBar(box, true);
    setOwner(box, owner_);
    askForFrameWithoutMinimise(&box, "DIALOG");
    showNoIcon(box);
    keepReachable(box);
    runModal(box);
}

std::string QtShell::programDirectory() const
{
    return QCoreApplication::applicationDirPath().toStdString();
}

void QtShell::endProgram()
{
    if (!ended_) {
        ended_ = std::make_unique<SwallowEverything>();
        QCoreApplication::instance()->installEventFilter(ended_.get());
    }
    QCoreApplication::exit(0);
}

} // namespace form::qt
