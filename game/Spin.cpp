// SPDX-License-Identifier: GPL-3.0-or-later

#include "Form1.h"

#include <array>
#include <string>

namespace game {

namespace {

// The frames of one turn: front, side, back, other side and front again. The working frames
// hold whichever costume is current, so a costume change shows from the next frame on.
constexpr std::array<std::string_view, 5> kSpinFrames{"Image5", "Image7", "Image6", "Image8", "Image5"};

} // namespace

void Form1::Image3_MouseDown()
{
    if (state_.intruderCode == 1) {
        CatchByIntruder();
    } else {
        state_.idleTicks = 0;
        // At the top of the counter the press still counts in every other way: the girl turns,
        // the countdown resets and the panel keeps showing the highest score there is.
        addChecked(state_.score, 1);
        el("Label9").setCaption(std::to_string(state_.score));
        el("Image3").takePictureOf(el("Image10"));
        timer("Timer1").setEnabled(true);
        PlaySpinSound();
    }
    CheckLevel();
}

void Form1::Image4_Click()
{ }

void Form1::Timer1_Timer()
{
    ++spinStep_;
    if (spinStep_ <= static_cast<std::int16_t>(kSpinFrames.size())) {
        el("Image4").takePictureOf(el(kSpinFrames[static_cast<std::size_t>(spinStep_ - 1)]));
        return;
    }
    spinStep_ = 0;
    timer("Timer1").setEnabled(false);
    el("Image3").takePictureOf(el("Image9"));
}

void Form1::ChangeCostume()
{
    el("Image5").takePictureOf(el("Image16"));
    el("Image7").takePictureOf(el("Image17"));
    el("Image6").takePictureOf(el("Image19"));
    el("Image8").takePictureOf(el("Image18"));
}

void Form1::PlaySpinSound()
{
    sound_.PlayEffect(state_.spinSoundPath, 0);
}

} // namespace game
