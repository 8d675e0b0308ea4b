// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

class QWidget;

namespace form::qt {

// Asks the window manager to leave a top-level window out of the taskbar and the pager. Qt has
// no flag for it, so on X11 the window's _NET_WM_STATE carries the request from its first map;
// elsewhere this does nothing. Call it before the window is first shown.
void keepOffTaskbar(QWidget* window);

// Asks every window manager for a frame without minimise and maximise. The Motif hints Qt sets
// from the window flags say so to most of them, but openbox reads them only for move and resize:
// it drops both buttons for a toolbar window alone. So on X11 the window's _NET_WM_WINDOW_TYPE
// names the toolbar type first, and `fallback` (the type Qt gave it, e.g. "UTILITY" or "DIALOG")
// after it for a manager that knows no toolbars. Call it before the window is first shown.
void askForFrameWithoutMinimise(QWidget* window, const char* fallback);

} // namespace form::qt
