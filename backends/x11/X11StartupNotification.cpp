#include "backends/x11/X11StartupNotification.h"

#include "backends/x11/X11Screens.h"
#include "backends/x11/XcbAtom.h"

#include <QtGlobal>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

namespace X11StartupNotification {

QByteArray removeMessage(const QByteArray& id) {
    QByteArray quoted;
    for (char c : id) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return QByteArrayLiteral("remove: ID=\"") + quoted + '"';
}

QByteArray startupId() {
    return qgetenv("DESKTOP_STARTUP_ID");
}

void complete(const QByteArray& id) {
    xcb_connection_t* connection = X11Screens::connection();
    if (id.isEmpty() || !connection) {
        return;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_atom_t begin = internAtom(connection, "_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = internAtom(connection, "_NET_STARTUP_INFO");
    // The message travels in 20-byte pieces, the first as _BEGIN, with its final NUL.
    QByteArray message = removeMessage(id);
    message.append('\0');
    for (qsizetype offset = 0; offset < message.size(); offset += 20) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 8;
        event.window = screen->root;
        event.type = offset == 0 ? begin : more;
        std::memcpy(event.data.data8, message.constData() + offset,
                    static_cast<std::size_t>(std::min<qsizetype>(20, message.size() - offset)));
        xcb_send_event(connection, 0, screen->root, XCB_EVENT_MASK_PROPERTY_CHANGE,
                       reinterpret_cast<const char*>(&event));
    }
    xcb_flush(connection);
}

} // namespace X11StartupNotification
