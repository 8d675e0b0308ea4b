// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

class QWidget;

namespace windows::qt {

// Asks the window manager to leave a top-level window out of the taskbar and the pager. Qt has
// no flag for it, so on X11 the window's _NET_WM_STATE carries the request from its first map;
// elsewhere this does nothing. Call it before the window is first shown.
void keepOffTaskbar(QWidget* window);

} // namespace windows::qt
