// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QString>
#include <QStringList>

#include <functional>

namespace form {
enum class SystemColor;
}

namespace form::qt {

// The classic 3-D grey of the era's standard scheme. The layouts name two system colours (the
// active border and the button face); in that scheme both were this grey, and so is everything
// the toolkit draws around them: the menu bar, the message box and the dialog.
inline constexpr QRgb kWindowGrey = 0xFFD4D0C8;

QColor systemColor(form::SystemColor color);

// Gives the whole program one look, before any window exists: the grey as the application
// palette, and a style that puts no stock icons on dialog buttons and lets Alt reach the menu bar.
void installLook();

// The program icon at every size the project ships, so no frame or taskbar has to scale one.
// `decode` reads one of programIconFiles(); by default the icon reads them itself.
QIcon programIcon(const std::function<QImage(const QString&)>& decode = {});
// The resources that programIcon() is made of.
QStringList programIconFiles();

// How wide a window must be for a window manager to show `title` whole in its frame: the title
// in the desktop's title font, with room for the frame's icon and buttons beside it.
int widthForTitle(const QString& title);

} // namespace form::qt
