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

namespace windows::qt {

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

} // namespace
#endif

void keepOffTaskbar(QWidget* window)
{
#if QT_CONFIG(xcb)
    if (!window || QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const xcb_atom_t state = internAtom(connection, "_NET_WM_STATE");
    const std::array<xcb_atom_t, 2> skip{internAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                                         internAtom(connection, "_NET_WM_STATE_SKIP_PAGER")};
    if (state == XCB_ATOM_NONE || skip[0] == XCB_ATOM_NONE || skip[1] == XCB_ATOM_NONE)
        return;
    // Before the first map the property is ours to set; Qt keeps what it finds there when it adds
    // its own states on show.
    xcb_change_property(connection, XCB_PROP_MODE_APPEND, id, state, XCB_ATOM_ATOM, 32,
                        static_cast<std::uint32_t>(skip.size()), skip.data());
    xcb_flush(connection);
#else
    (void)window;
#endif
}

void askForFrameWithoutMinimise(QWidget* window, const char* fallback)
{
#if QT_CONFIG(xcb)
    if (!window || QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const xcb_atom_t property = internAtom(connection, "_NET_WM_WINDOW_TYPE");
    const std::string other = std::string("_NET_WM_WINDOW_TYPE_") + fallback;
    const std::array<xcb_atom_t, 2> types{internAtom(connection, "_NET_WM_WINDOW_TYPE_TOOLBAR"),
                                          internAtom(connection, other.c_str())};
    if (property == XCB_ATOM_NONE || types[0] == XCB_ATOM_NONE || types[1] == XCB_ATOM_NONE)
        return;
    // Qt writes the type when it makes the native window and again only when the flags change.
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, property, XCB_ATOM_ATOM, 32,
                        static_cast<std::uint32_t>(types.size()), types.data());
    xcb_flush(connection);
#else
    (void)window;
    (void)fallback;
#endif
}

} // namespace windows::qt
