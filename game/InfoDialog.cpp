// SPDX-License-Identifier: GPL-3.0-or-later

#include "Form1.h"

#include "Layouts.h"
#include "PictureTable.h"

namespace game {

void Form1::showForm2()
{
    // The dialog is made afresh from its layout every time it opens and keeps nothing.
    if (!form2_) {
        form2_ = std::make_unique<form::Form>(form::form2Layout(), &timers_);
        assets::applyPictures(*form2_);
        form2_->on("Command1", form::Event::Click, [this] { Form2_Command1_Click(); });
    }
    shell_.showForm(*form2_);
}

void Form1::mnuSethu_Click()
{
    form_.setEnabled(false);
    showForm2();
}

void Form1::mnuAtogaki_Click()
{
    showForm2();
    form_.setEnabled(false);
}

void Form1::Form2_Command1_Click()
{
    form_.setEnabled(true);
    shell_.discardForm(std::move(form2_));
}

} // namespace game
