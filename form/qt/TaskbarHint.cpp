// SPDX-License-Identifier: GPL-3.0-or-later

#include "TaskbarHint.h"

#include <QGuiApplication>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#endif

namespace form::qt {

#if QT_CONFIG(xcb)
namespace {

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name)
{
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

// Writes two atoms into one of `window`'s properties on X, appended to what is there or in its
// place; elsewhere, or when X cannot name them, nothing happens.
void setAtoms(QWidget* window, const char* property, const std::array<const char*, 2>& values, std::uint8_t mode)
{
    if (!window || QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const xcb_atom_t name = internAtom(connection, property);
    const std::array<xcb_atom_t, 2> atoms{internAtom(connection, values[0]), internAtom(connection, values[1])};
    if (name == XCB_ATOM_NONE || atoms[0] == XCB_ATOM_NONE || atoms[1] == XCB_ATOM_NONE)
        return;
    xcb_change_property(connection, mode, id, name, XCB_ATOM_ATOM, 32, static_cast<std::uint32_t>(atoms.size()),
                        atoms.data());
    xcb_flush(connection);
}

} // namespace
#endif

void keepOffTaskbar(QWidget* window)
{
#if QT_CONFIG(xcb)
    // Before the first map the property is ours to set; Qt keeps what it finds there when it adds
    // its own states on show.
    setAtoms(window, "_NET_WM_STATE", {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}, XCB_PROP_MODE_APPEND);
#else
    (void)window;
#endif
}

void askForFrameWithoutMinimise(QWidget* window, const char* fallback)
{
#if QT_CONFIG(xcb)
    const std::string other = std::string("_NET_WM_WINDOW_TYPE_") + fallback;
    // Qt writes the type when it makes the native window and again only when the flags change.
    setAtoms(window, "_NET_WM_WINDOW_TYPE", {"_NET_WM_WINDOW_TYPE_TOOLBAR", other.c_str()}, XCB_PROP_MODE_REPLACE);
#else
    (void)window;
    (void)fallback;
#endif
}

} // namespace form::qt
