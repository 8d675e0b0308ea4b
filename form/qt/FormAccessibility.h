// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QRect>

#include <string>

class QAccessibleInterface;
class QWidget;

namespace form::qt {

class FormView;

// Lets Qt's accessibility (AT-SPI on Linux) see what a FormView paints: its labels, grouped in
// their frames, and the pictures that have a spoken name, in the reading order the view keeps;
// and places Qt's own widgets in the display's pixels (StockAccessibility.h). Installed after
// QApplication's, it is asked first. Qt keeps an interface once made, so this must come before
// the first question about a menu or button: each view calls it before its window makes them.
// Safe to call often.
void installFormAccessibility();

// The interface of one element of a view's form, or of the group a frame makes; made on first
// use and kept for as long as the view lives.
QAccessibleInterface* accessibleElement(FormView* view, const std::string& element);
QAccessibleInterface* accessibleGroup(FormView* view, const std::string& frame);

// A rectangle in a widget, where assistive tools expect it: on the screen, in the display's own
// pixels. Qt's logical pixels are larger than those whenever a scale factor is set.
QRect screenRect(const QWidget* widget, const QRect& local);

} // namespace form::qt
