#include "backends/x11/X11ClipboardKeeper.h"

#include "backends/x11/X11Screens.h"
#include "backends/x11/XcbAtom.h"
#include "platform/Logger.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <array>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

namespace {

xcb_window_t selectionOwner(xcb_connection_t* connection, xcb_atom_t selection) {
    XcbReply<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr));
    return reply ? reply->owner : xcb_window_t{XCB_WINDOW_NONE};
}

// The text formats the keeper offers, besides TARGETS and TIMESTAMP; TEXT comes last.
constexpr std::array textTargetNames{"UTF8_STRING", "text/plain;charset=utf-8", "text/plain",
                                     "STRING", "TEXT"};

class Keeper {
public:
    Keeper(xcb_connection_t* connection, QByteArray text)
        : m_connection(connection)
        , m_text(std::move(text)) {
        m_clipboard = internAtom(connection, "CLIPBOARD");
        m_targets = internAtom(connection, "TARGETS");
        m_timestampAtom = internAtom(connection, "TIMESTAMP");
        m_utf8 = internAtom(connection, "UTF8_STRING");
        for (const char* name : textTargetNames) {
            m_textTargets.push_back(internAtom(connection, name));
        }
    }

    // Takes the clipboard; false when the server refuses.
    bool own() {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        if (!screen) {
            return false;
        }
        m_window = xcb_generate_id(m_connection);
        const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                          &events);
        // A selection is owned from a server time, not CurrentTime: an empty append to
        // one of our properties gives us one.
        xcb_change_property(m_connection, XCB_PROP_MODE_APPEND, m_window, m_timestampAtom,
                            XCB_ATOM_INTEGER, 32, 0, nullptr);
        xcb_flush(m_connection);
        while (xcb_generic_event_t* event = xcb_wait_for_event(m_connection)) {
            const bool found = (event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY;
            if (found) {
                m_time = reinterpret_cast<xcb_property_notify_event_t*>(event)->time;
            }
            std::free(event);
            if (found) {
                break;
            }
        }
        xcb_set_selection_owner(m_connection, m_window, m_clipboard, m_time);
        return selectionOwner(m_connection, m_clipboard) == m_window;
    }

    // Answers requests until the clipboard is taken or the display goes.
    void run() {
        while (xcb_generic_event_t* event = xcb_wait_for_event(m_connection)) {
            const auto type = event->response_type & 0x7f;
            bool done = false;
            if (type == XCB_SELECTION_REQUEST) {
                answer(*reinterpret_cast<xcb_selection_request_event_t*>(event));
            } else if (type == XCB_SELECTION_CLEAR) {
                done = true;
            }
            std::free(event);
            if (done) {
                return;
            }
        }
    }

private:
    void answer(const xcb_selection_request_event_t& request) {
        // Clients from before ICCCM 2 leave the property out: the target names it then.
        const xcb_atom_t property =
            request.property != XCB_ATOM_NONE ? request.property : request.target;
        bool served = request.selection == m_clipboard &&
                      (request.time == XCB_CURRENT_TIME || request.time >= m_time);
        if (served && request.target == m_targets) {
            std::vector<xcb_atom_t> offered{m_targets, m_timestampAtom};
            offered.insert(offered.end(), m_textTargets.begin(), m_textTargets.end());
            xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, request.requestor, property,
                                XCB_ATOM_ATOM, 32, static_cast<std::uint32_t>(offered.size()),
                                offered.data());
        } else if (served && request.target == m_timestampAtom) {
            xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, request.requestor, property,
                                XCB_ATOM_INTEGER, 32, 1, &m_time);
        } else if (served && std::find(m_textTargets.begin(), m_textTargets.end(),
                                       request.target) != m_textTargets.end()) {
            // The text is a colour's: ASCII, so every text target gets the same bytes.
            // TEXT asks the owner to choose an encoding.
            const xcb_atom_t type =
                request.target == m_textTargets.back() ? m_utf8 : request.target;
            xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, request.requestor, property,
                                type, 8, static_cast<std::uint32_t>(m_text.size()),
                                m_text.constData());
        } else {
            served = false; // MULTIPLE and the rest: refused
        }
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request.time;
        notify.requestor = request.requestor;
        notify.selection = request.selection;
        notify.target = request.target;
        notify.property = served ? property : xcb_atom_t{XCB_ATOM_NONE};
        xcb_send_event(m_connection, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&notify));
        xcb_flush(m_connection);
    }

    xcb_connection_t* m_connection;
    QByteArray m_text;
    xcb_window_t m_window = XCB_WINDOW_NONE;
    xcb_timestamp_t m_time = XCB_CURRENT_TIME;
    xcb_atom_t m_clipboard = XCB_ATOM_NONE;
    xcb_atom_t m_targets = XCB_ATOM_NONE;
    xcb_atom_t m_timestampAtom = XCB_ATOM_NONE;
    xcb_atom_t m_utf8 = XCB_ATOM_NONE;
    std::vector<xcb_atom_t> m_textTargets;
};

} // namespace

namespace X11ClipboardKeeper {

void keepAfterExit(std::chrono::milliseconds handOverTimeout) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    xcb_connection_t* connection = X11Screens::connection();
    if (!clipboard || !connection || !clipboard->ownsClipboard()) {
        return;
    }
    const QMimeData* data = clipboard->mimeData(QClipboard::Clipboard);
    const QString text = data ? data->text() : QString();
    if (text.isEmpty()) {
        return;
    }
    Logger logger("App");
    if (selectionOwner(connection, internAtom(connection, "CLIPBOARD_MANAGER")) !=
        XCB_WINDOW_NONE) {
        // Qt's clipboard asks the manager to save the targets when the application
        // object is destroyed, and waits for it.
        logger.log("Handing the clipboard to the clipboard manager");
        return;
    }
    const xcb_atom_t clipboardAtom = internAtom(connection, "CLIPBOARD");
    const xcb_window_t ours = selectionOwner(connection, clipboardAtom);
    // Qt may not have heard yet that another client took the clipboard a moment ago: the
    // server's word counts. Our windows' ids lie in our connection's range.
    const xcb_setup_t* setup = xcb_get_setup(connection);
    if ((ours & ~setup->resource_id_mask) != setup->resource_id_base) {
        return;
    }
    if (!QProcess::startDetached(QCoreApplication::applicationFilePath(),
                                 {QString::fromLatin1(keepOption), text})) {
        logger.error("Could not start the process that keeps the clipboard");
        return;
    }
    // The keeper takes the selection from us; until then the text must not go.
    const auto deadline = std::chrono::steady_clock::now() + handOverTimeout;
    while (selectionOwner(connection, clipboardAtom) == ours) {
        if (std::chrono::steady_clock::now() >= deadline) {
            logger.error("The clipboard keeper did not take the clipboard in time");
            return;
        }
        QThread::msleep(10);
    }
    logger.log("The clipboard stays with a keeper process");
}

int serve(const QByteArray& text) {
    // Out of the session and process group of whatever started Daubly: a closing
    // terminal or a kill of Daubly's group leaves the keeper alone.
    setsid();
    std::signal(SIGHUP, SIG_IGN);
    std::signal(SIGINT, SIG_IGN);
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return 1;
    }
    Keeper keeper(connection, text);
    const bool owned = keeper.own();
    if (owned) {
        keeper.run();
    }
    xcb_disconnect(connection);
    return owned ? 0 : 1;
}

} // namespace X11ClipboardKeeper
