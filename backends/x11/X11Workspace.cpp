#include "backends/x11/X11Workspace.h"

#include "backends/x11/X11Screens.h"
#include "backends/x11/XcbReply.h"

#include <QGuiApplication>
#include <QWindow>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

namespace {

xcb_window_t rootWindow(xcb_connection_t* c) {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    return screen ? screen->root : xcb_window_t(XCB_WINDOW_NONE);
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, false, std::uint16_t(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

bool isOwnWindow(xcb_window_t window) {
    const auto windows = QGuiApplication::allWindows();
    for (const QWindow* own : windows) {
        if (own->handle() && own->winId() == window) {
            return true;
        }
    }
    return false;
}

} // namespace

X11Workspace::X11Workspace(QObject* parent)
    : QtWorkspace(parent) {}

X11Workspace::~X11Workspace() {
    releaseInput();
}

std::optional<Workspace::WindowID> X11Workspace::activeWindow() const {
    xcb_connection_t* c = X11Screens::connection();
    if (!c) {
        return std::nullopt;
    }
    const xcb_atom_t property = atom(c, "_NET_ACTIVE_WINDOW");
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, false, rootWindow(c), property, XCB_ATOM_WINDOW, 0, 1), nullptr));
    if (!reply || reply->type != XCB_ATOM_WINDOW ||
        xcb_get_property_value_length(reply.get()) < 4) {
        return std::nullopt;
    }
    const auto window = *static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
    if (window == XCB_WINDOW_NONE || isOwnWindow(window)) {
        return std::nullopt;
    }
    return window;
}

void X11Workspace::activateWindow(WindowID window) {
    xcb_connection_t* c = X11Screens::connection();
    if (!c) {
        return;
    }
    // A window that went away meanwhile is left alone.
    xcb_generic_error_t* error = nullptr;
    XcbReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), &error));
    std::free(error);
    if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE) {
        return;
    }
    // Source 2 ("pager"): the user asked for it, so focus-stealing prevention lets it be.
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = atom(c, "_NET_ACTIVE_WINDOW");
    message.data.data32[0] = 2;
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c, false, rootWindow(c),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(c);
}

void X11Workspace::moveToCurrentDesktop(WindowID window) {
    xcb_connection_t* c = X11Screens::connection();
    if (!c) {
        return;
    }
    XcbReply<xcb_get_property_reply_t> current(xcb_get_property_reply(
        c,
        xcb_get_property(c, false, rootWindow(c), atom(c, "_NET_CURRENT_DESKTOP"),
                         XCB_ATOM_CARDINAL, 0, 1),
        nullptr));
    if (!current || xcb_get_property_value_length(current.get()) < 4) {
        return; // a window manager without workspaces
    }
    const std::uint32_t desktop =
        *static_cast<const std::uint32_t*>(xcb_get_property_value(current.get()));
    // A mapped window moves by asking the window manager (EWMH _NET_WM_DESKTOP).
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = atom(c, "_NET_WM_DESKTOP");
    message.data.data32[0] = desktop;
    message.data.data32[1] = 2;
    xcb_send_event(c, false, rootWindow(c),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(c);
}

std::uint32_t X11Workspace::displayID(QScreen* screen) const {
    // Without RandR the capture calls its one monitor 0.
    return X11Screens::randrOutputId(screen).value_or(0);
}

bool X11Workspace::grabDevices(QWindow& window) {
    if (!window.setKeyboardGrabEnabled(true)) {
        return false;
    }
    if (!window.setMouseGrabEnabled(true)) {
        window.setKeyboardGrabEnabled(false);
        return false;
    }
    return true;
}

void X11Workspace::releaseDevices(QWindow& window) {
    window.setMouseGrabEnabled(false);
    window.setKeyboardGrabEnabled(false);
}

void X11Workspace::waitForDisplay() {
    // The server answers requests in order: once this reply is in, everything sent
    // before it has been drawn.
    if (xcb_connection_t* c = X11Screens::connection()) {
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
}
