// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QMargins>

#include <optional>

class QWidget;

namespace form::qt {

// What a top-level window asks of the window manager beyond Qt's flags, through X11's
// properties and messages; off X11 each of these does nothing.

// The frame the window manager will put around a top-level window, asked for before the window
// is first shown (_NET_REQUEST_FRAME_EXTENTS), so that the window can be placed by its outer
// edges at once. Nothing when there is no window manager, when it does not answer, or off X11.
std::optional<QMargins> askFrameExtents(QWidget* window);

// Asks the window manager to leave a top-level window out of the taskbar and the pager. Qt has
// no flag for it, so on X11 the window's _NET_WM_STATE carries the request from its first map.
// Call it before the window is first shown.
void keepOffTaskbar(QWidget* window);

// Asks every window manager for a frame without minimise and maximise. The Motif hints Qt sets
// from the window flags say so to most of them, but openbox reads them only for move and resize:
// it drops both buttons for a toolbar window alone. So on X11 the window's _NET_WM_WINDOW_TYPE
// names the toolbar type first, and `fallback` (the type Qt gave it, e.g. "UTILITY" or "DIALOG")
// after it for a manager that knows no toolbars. Call it before the window is first shown.
void askForFrameWithoutMinimise(QWidget* window, const char* fallback);

} // namespace form::qt
