// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "Fakes.h"
#include "Form1.h"
#include "ManualClock.h"
#include "Multimedia32.h"

#include <gtest/gtest.h>

namespace testing_support {

// A whole game on the manual clock, loaded and ready for Start.
class GameTest : public ::testing::Test {
protected:
    GameTest() { form1.Form_Load(); }

    form::Form& form() { return form1.form(); }
    const form::Element& el(std::string_view name) { return form().element(name); }
    form::Timer& timer(std::string_view name) { return form().timer(name); }
    const game::GameState& state() { return form1.state(); }

    // A press in the middle of the player's figure, clear of the strip the girl covers.
    void pressFigure(form::MouseButton button = form::MouseButton::Left)
    {
        form().press({215 * 15 + 7, 160 * 15 + 7}, button);
        form().release({215 * 15 + 7, 160 * 15 + 7}, button);
    }
    void start() { form().chooseMenu("mnuStart"); }
    void stop() { form().chooseMenu("mnuStop"); }

    // The next intruder roll comes out as `roll`.
    void nextRoll(int roll)
    {
        for (std::uint64_t t = timeOfDay + 1;; ++t)
            if (game::rollFromTimeOfDay(t) == roll) {
                timeOfDay = t;
                return;
            }
    }
    bool anyIntruderVisible()
    {
        return el("Image2").visible() || el("Image12").visible() || el("Image13").visible() || el("Image14").visible();
    }

    form::ManualClock clock;
    RecordingPlatform platform;
    sound::Multimedia32 multimedia{platform};
    FakeShell shell;
    std::uint64_t timeOfDay = 1;
    game::Form1 form1{clock, multimedia, shell, [this] { return timeOfDay; }};
};

} // namespace testing_support
