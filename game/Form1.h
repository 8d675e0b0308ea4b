// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "GameState.h"

#include "Form.h"
#include "Multimedia32.h"
#include "Shell.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace game {

// A reading of the time of day, in nanoseconds; the intruder roll is seeded from it.
using TimeOfDay = std::function<std::uint64_t()>;
TimeOfDay systemTimeOfDay();

// The main window's behaviour: the state record, the handlers of its elements and the
// procedures they share. Everything runs on the one user-interface thread.
class Form1 {
public:
    Form1(form::TimerHost& timers, sound::Multimedia32& sound, form::Shell& shell,
          TimeOfDay timeOfDay = systemTimeOfDay());
    ~Form1();

    form::Form& form() { return form_; }
    const GameState& state() const { return state_; }
    std::int16_t spinStep() const { return spinStep_; }
    form::Form* form2() { return form2_.get(); }

    // Game control
    void Form_Load();
    void StopGame();
    void mnuStart_Click();
    void mnuStop_Click();
    void mnuExit_Click();

    // The spin
    void Image3_MouseDown();
    void Image4_Click();
    void Timer1_Timer();
    void ChangeCostume();
    void PlaySpinSound();

    // Levels
    void CheckLevel();

    // Intruders
    void Timer2_Timer();
    void HideIntruders();
    void ShowIntruder();
    void CatchByIntruder();
    void Timer4_Timer();

    // The escape countdown
    void Timer3_Timer();

    // The test buttons
    void Command1_Click();
    void Command2_Click();

    // The music watchdog
    void bgm_Timer();

    // The information dialog
    void mnuSethu_Click();
    void mnuAtogaki_Click();
    void Form2_Command1_Click();

private:
    form::Element& el(std::string_view name) { return form_.element(name); }
    form::Timer& timer(std::string_view name) { return form_.timer(name); }
    void connectHandlers();
    void showForm2();

    form::TimerHost& timers_;
    sound::Multimedia32& sound_;
    form::Shell& shell_;
    TimeOfDay timeOfDay_;
    form::Form form_;
    GameState state_;
    // The animation step lives beside the record, not in it: only this window uses it.
    std::int16_t spinStep_ = 0;
    std::unique_ptr<form::Form> form2_; // exists only while the dialog is open
};

} // namespace game
