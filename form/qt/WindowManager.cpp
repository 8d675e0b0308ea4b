// SPDX-License-Identifier: GPL-3.0-or-later

#include "WindowManager.h"

#include <QGuiApplication>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#endif

namespace form::qt {

#if QT_CONFIG(xcb)
namespace {

struct FreeReply {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

// Qt's own connection to the X server, when the window is on one.
xcb_connection_t* connectionOf(const QWidget* window)
{
    if (!window || QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    Reply<xcb_intern_atom_reply_t> r(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr));
    return r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
}

bool supported(xcb_connection_t* c, xcb_window_t root, xcb_atom_t wanted)
{
    Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(
        c, xcb_get_property(c, 0, root, atom(c, "_NET_SUPPORTED"), XCB_ATOM_ATOM, 0, 4096), nullptr));
    if (!r || r->format != 32)
        return false;
    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(r.get()));
    const int n = xcb_get_property_value_length(r.get()) / 4;
    for (int i = 0; i < n; ++i)
        if (atoms[i] == wanted)
            return true;
    return false;
}

std::optional<QMargins> readExtents(xcb_connection_t* c, xcb_window_t window, xcb_atom_t extents)
{
    Reply<xcb_get_property_reply_t> r(
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, extents, XCB_ATOM_CARDINAL, 0, 4), nullptr));
    if (!r || r->format != 32 || xcb_get_property_value_length(r.get()) != 16)
        return std::nullopt;
    const auto* v = static_cast<const std::uint32_t*>(xcb_get_property_value(r.get()));
    // left, right, top, bottom
    return QMargins(static_cast<int>(v[0]), static_cast<int>(v[2]), static_cast<int>(v[1]), static_cast<int>(v[3]));
}

// Writes two atoms into one of `window`'s properties, appended to what is there or in its place;
// when X cannot name them, nothing happens.
void setAtoms(QWidget* window, const char* property, const std::array<const char*, 2>& values, std::uint8_t mode)
{
    xcb_connection_t* c = connectionOf(window);
    if (!c)
        return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const xcb_atom_t name = atom(c, property);
    const std::array<xcb_atom_t, 2> atoms{atom(c, values[0]), atom(c, values[1])};
    if (name == XCB_ATOM_NONE || atoms[0] == XCB_ATOM_NONE || atoms[1] == XCB_ATOM_NONE)
        return;
    xcb_change_property(c, mode, id, name, XCB_ATOM_ATOM, 32, static_cast<std::uint32_t>(atoms.size()), atoms.data());
    xcb_flush(c);
}

} // namespace
#endif

std::optional<QMargins> askFrameExtents(QWidget* window)
{
#if QT_CONFIG(xcb)
    xcb_connection_t* c = connectionOf(window);
    if (!c)
        return std::nullopt;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const xcb_atom_t request = atom(c, "_NET_REQUEST_FRAME_EXTENTS");
    const xcb_atom_t extents = atom(c, "_NET_FRAME_EXTENTS");
    if (request == XCB_ATOM_NONE || extents == XCB_ATOM_NONE || !supported(c, root, request))
        return std::nullopt;

    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = id;
    message.type = request;
    xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(c);
    // The window manager answers by setting the property, usually within a round trip or two. The
    // window is not up yet, so a short wait here delays nothing the player sees.
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(150);
    do {
        if (std::optional<QMargins> m = readExtents(c, id, extents))
            return m;
        std::this_thread::sleep_for(milliseconds(2));
    } while (steady_clock::now() < deadline);
#else
    (void)window;
#endif
    return std::nullopt;
}

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
