// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <memory>
#include <string>

namespace form {

class Form;

// What a form's code asks of the desktop beyond its own elements: other windows, the modal
// message box, the program's folder and the end of the program.
class Shell {
public:
    virtual ~Shell() = default;
    // Shows a form without an owner and without waiting.
    virtual void showForm(Form& form) = 0;
    // Closes a form and takes it over; it goes once nothing of it is in use any more.
    virtual void discardForm(std::unique_ptr<Form> form) = 0;
    // Waits until the player closes the box; events, timer ticks included, go on meanwhile.
    virtual void messageBox(const std::string& prompt, const std::string& title) = 0;
    virtual std::string programDirectory() const = 0;
    virtual void endProgram() = 0;
};

} // namespace form
