#include "backends/x11/X11Workspace.h"

#include "backends/x11/X11Screens.h"
#include "backends/x11/XcbReply.h"
#include "platform/ScreenGeometry.h"

#include <QClipboard>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QScreen>
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

int virtualKeyCodeOfQtKey(int qtKey) {
    // By the key's symbol, not its position: Return, Escape and the arrows are the same
    // symbols on every layout, a layout that moves Escape (Caps Lock as Escape) is
    // honoured, and servers whose key codes are not evdev's still work.
    switch (qtKey) {
    case Qt::Key_Return:
        return int(VirtualKey::returnKey);
    case Qt::Key_Enter: // keypad Enter
        return int(VirtualKey::keypadEnter);
    case Qt::Key_Escape:
        return int(VirtualKey::escape);
    case Qt::Key_Left:
        return int(VirtualKey::leftArrow);
    case Qt::Key_Right:
        return int(VirtualKey::rightArrow);
    case Qt::Key_Down:
        return int(VirtualKey::downArrow);
    case Qt::Key_Up:
        return int(VirtualKey::upArrow);
    default:
        return -1;
    }
}

X11Workspace::X11Workspace(QObject* parent)
    : Workspace(parent) {
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
        watchScreen(screen);
        Q_EMIT screensChanged();
    });
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, &Workspace::screensChanged);
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, &Workspace::screensChanged);
    for (QScreen* screen : QGuiApplication::screens()) {
        watchScreen(screen);
    }
    // While the pick holds the grab, our overlay has the focus; the application turning
    // inactive then means someone took it (or broke the grab).
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (!m_grabWindow) {
                    return;
                }
                if (state == Qt::ApplicationActive) {
                    m_activeWhileGrabbed = true;
                } else if (m_activeWhileGrabbed) {
                    Q_EMIT inputLost();
                }
            });
}

X11Workspace::~X11Workspace() {
    removeKeyMonitor();
    releaseInput();
    if (m_cursorHidden) {
        showCursor();
    }
}

void X11Workspace::watchScreen(QScreen* screen) {
    connect(screen, &QScreen::geometryChanged, this, &Workspace::screensChanged);
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

std::vector<WorkspaceScreen> X11Workspace::screens() const {
    std::vector<WorkspaceScreen> result;
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) {
        return result;
    }
    for (QScreen* screen : QGuiApplication::screens()) {
        // Without RandR the capture calls its one monitor 0.
        const std::uint32_t id = X11Screens::randrOutputId(screen).value_or(0);
        result.push_back(
            {id, ScreenGeometry::designFrame(screen->geometry(), primary->geometry()), screen});
    }
    return result;
}

QPointF X11Workspace::mouseLocation() const {
    const QScreen* primary = QGuiApplication::primaryScreen();
    return primary ? ScreenGeometry::designPoint(QCursor::pos(), primary->geometry()) : QPointF();
}

void X11Workspace::hideCursor() {
    if (!m_cursorHidden) {
        QGuiApplication::setOverrideCursor(Qt::BlankCursor);
        m_cursorHidden = true;
    }
}

void X11Workspace::showCursor() {
    if (m_cursorHidden) {
        QGuiApplication::restoreOverrideCursor();
        m_cursorHidden = false;
    }
}

void X11Workspace::setClipboardText(const QString& text) {
    // Replacing the mime data drops whatever was there: one plain-text item.
    auto* data = new QMimeData;
    data->setText(text);
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
}

bool X11Workspace::grabInput(QWindow* window) {
    if (!window || m_grabWindow) {
        return false;
    }
    if (!window->setKeyboardGrabEnabled(true)) {
        return false;
    }
    if (!window->setMouseGrabEnabled(true)) {
        window->setKeyboardGrabEnabled(false);
        return false;
    }
    m_grabWindow = window;
    m_activeWhileGrabbed = QGuiApplication::applicationState() == Qt::ApplicationActive;
    return true;
}

void X11Workspace::releaseInput() {
    QPointer<QWindow> window = std::exchange(m_grabWindow, nullptr);
    m_activeWhileGrabbed = false;
    // A destroyed window took its grabs with it.
    if (window) {
        window->setMouseGrabEnabled(false);
        window->setKeyboardGrabEnabled(false);
    }
}

void X11Workspace::installKeyMonitor(std::function<void(int keyCode)> handler) {
    if (!m_keyHandler) {
        qGuiApp->installEventFilter(this);
    }
    m_keyHandler = std::move(handler);
}

void X11Workspace::removeKeyMonitor() {
    if (m_keyHandler) {
        qGuiApp->removeEventFilter(this);
        m_keyHandler = nullptr;
    }
}

void X11Workspace::waitForDisplay() {
    // The server answers requests in order: once this reply is in, everything sent
    // before it has been drawn.
    if (xcb_connection_t* c = X11Screens::connection()) {
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
}

bool X11Workspace::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::ShortcutOverride:
    case QEvent::KeyRelease:
        event->accept();
        return true;
    case QEvent::KeyPress: {
        // Every window of the application sees the event after the application does; the
        // window itself gets a KeyPress per widget up the chain, so only window-level
        // deliveries are counted.
        if (!watched->isWindowType()) {
            return true;
        }
        const auto* key = static_cast<QKeyEvent*>(event);
        if (m_keyHandler) {
            auto handler = m_keyHandler; // may remove the monitor
            handler(virtualKeyCodeOfQtKey(key->key()));
        }
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}
