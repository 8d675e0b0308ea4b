#pragma once

#include "Shell.h"

#include <map>

namespace windows::qt {

class FormWindow;

// The desktop as the game's code sees it, on Qt Widgets.
class QtShell : public Shell {
public:
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
};

} // namespace windows::qt
