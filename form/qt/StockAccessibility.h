// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

class QAccessibleInterface;
class QObject;
class QString;

namespace form::qt {

// Qt's own interfaces for its widgets (the menu bar, its menus and their entries, push buttons,
// labels, the message box) place them in Qt's logical pixels, and its AT-SPI bridge hands those
// on as the display's: at a scale factor the reader looks in the wrong place. These interfaces
// say what Qt's say and offer the same actions, but place the widgets in the display's pixels.
// Null for a class they do not stand in for, so that Qt's own serve it.
QAccessibleInterface* stockAccessible(const QString& className, QObject* object);

// Off, Qt's own interfaces serve the widgets that are first asked about from then on, so that
// tests can hold the two side by side. On by default.
void setStockAccessibility(bool on);

} // namespace form::qt
