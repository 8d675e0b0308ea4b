// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QMargins>

#include <optional>

class QWidget;

namespace form::qt {

// The frame the window manager will put around a top-level window, asked for before the window
// is first shown (_NET_REQUEST_FRAME_EXTENTS), so that the window can be placed by its outer
// edges at once. Nothing when there is no window manager, when it does not answer, or off X11.
std::optional<QMargins> askFrameExtents(QWidget* window);

} // namespace form::qt
