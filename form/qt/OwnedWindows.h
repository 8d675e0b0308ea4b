// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

class QDialog;
class QWidget;

namespace form::qt {

// The information dialog and the game-over box belong to the main window: the desktop keeps them
// over it (WM_TRANSIENT_FOR on X11, xdg_toplevel.set_parent on Wayland). They are not made child
// widgets, because a disabled main window would disable its child widgets too, OK included.
// Call before the window is first shown.
void setOwner(QWidget& window, QWidget* owner);

// Gives a waiting window the keyboard and puts it in front. Where the desktop ignores the request
// (a Wayland compositor without xdg-activation, or a window it minimised without telling us), the
// window is mapped afresh, which every compositor puts in front with the keyboard.
void bringForward(QWidget& window);

// A waiting window must never get lost. Where nothing can restore a minimised window (Wayland has
// no request for it), minimising it maps it again at once. Elsewhere it is restored.
void keepReachable(QWidget& window);

// Runs a modal dialog until the player answers it. Unlike QDialog::exec(), mapping the dialog
// afresh (see above) does not end the wait.
void runModal(QDialog& dialog);

// The dialog and the box show no icon in their frames. A window without one of its own gets its
// owner's from some window managers (openbox), so these carry an empty picture instead. Call it
// after setOwner().
void showNoIcon(QWidget& window);

bool onWayland();

} // namespace form::qt
