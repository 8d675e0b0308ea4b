// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <chrono>
#include <functional>

class QWidget;

namespace app {

// Runs `action` once on the UI thread, just after `widget` has painted for the first time and
// that frame has gone to the display. A widget that is not painted within `fallback` (a window
// started minimised, say) gets the action then instead.
void afterFirstFrame(QWidget* widget, std::function<void()> action, std::chrono::milliseconds fallback);

} // namespace app
