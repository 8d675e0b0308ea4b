// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "Shell.h"

#include <QObject>

#include <map>
#include <memory>

namespace form::qt {

class FormWindow;

// The desktop as the game's code sees it, on Qt Widgets.
class QtShell : public Shell {
public:
    QtShell();
    ~QtShell() override;
    QtShell(const QtShell&) = delete;
    QtShell& operator=(const QtShell&) = delete;

    void showForm(Form& form) override;
    void discardForm(std::unique_ptr<Form> form) override;
    void messageBox(const std::string& prompt, const std::string& title) override;
    std::string programDirectory() const override;
    void endProgram() override;

    FormWindow* windowOf(const Form& form) const;
    // The main window is made by the program itself; the shell only needs to know it.
    void registerWindow(Form& form, FormWindow* window);

private:
    std::map<const Form*, FormWindow*> windows_;
    std::unique_ptr<QObject> ended_; // swallows every event once the program has ended
    FormWindow* owner_ = nullptr;
};

} // namespace form::qt
