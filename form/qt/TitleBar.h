// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QSize>

class QWidget;

namespace form::qt {

// On Wayland the program draws the title bars of the dialog and the game-over box itself. A
// compositor without server-side decorations (weston) leaves the frame to Qt, whose own title bar
// always carries minimise, maximise and close buttons; xdg-shell has no way to ask a compositor
// that draws frames for fewer. So these two windows go without a frame and carry a bar of their
// own: a small one with the title only for the dialog, the title and a close button for the box,
// as the windows of the game's era had them. Dragging the bar moves the window. Elsewhere this
// does nothing and returns a size of 0; on Wayland it returns what the bar and a one-pixel edge
// around the window add to its size, which a fixed size must include. Call it before the window
// is first shown.
QSize drawOwnTitleBar(QWidget& window, bool closeButton);

} // namespace form::qt
