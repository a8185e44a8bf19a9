#include "platform/QtWorkspace.h"

#include "platform/ScreenGeometry.h"

#include <QClipboard>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QScreen>

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

QtWorkspace::QtWorkspace(QObject* parent)
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
    // While the pick holds the input, the overlay it went to has the focus: the application
    // turning inactive after that means someone took it (or broke the grab). Only after
    // that: a deactivation from before the pick (the user left our Settings window for
    // another application and pressed the shortcut at once) may arrive after the grab.
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* window) {
        if (m_grabWindow && window == m_grabWindow) {
            m_activeWhileGrabbed = true;
        }
    });
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (m_grabWindow && state != Qt::ApplicationActive && m_activeWhileGrabbed) {
                    Q_EMIT inputLost();
                }
            });
}

QtWorkspace::~QtWorkspace() {
    removeKeyMonitor();
    // Derived classes release their devices themselves; only the bookkeeping is left.
    m_grabWindow.clear();
    if (m_cursorHidden) {
        showCursor();
    }
}

void QtWorkspace::watchScreen(QScreen* screen) {
    connect(screen, &QScreen::geometryChanged, this, &Workspace::screensChanged);
}

std::vector<WorkspaceScreen> QtWorkspace::screens() const {
    std::vector<WorkspaceScreen> result;
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) {
        return result;
    }
    for (QScreen* screen : QGuiApplication::screens()) {
        result.push_back({displayID(screen),
                          ScreenGeometry::designFrame(screen->geometry(), primary->geometry()),
                          screen});
    }
    return result;
}

QPointF QtWorkspace::mouseLocation() const {
    const QScreen* primary = QGuiApplication::primaryScreen();
    return primary ? ScreenGeometry::designPoint(QCursor::pos(), primary->geometry()) : QPointF();
}

void QtWorkspace::hideCursor() {
    if (!m_cursorHidden) {
        QGuiApplication::setOverrideCursor(Qt::BlankCursor);
        m_cursorHidden = true;
    }
}

void QtWorkspace::showCursor() {
    if (m_cursorHidden) {
        QGuiApplication::restoreOverrideCursor();
        m_cursorHidden = false;
    }
}

void QtWorkspace::setClipboardText(const QString& text) {
    // Replacing the mime data drops whatever was there: one plain-text item.
    auto* data = new QMimeData;
    data->setText(text);
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
}

bool QtWorkspace::grabInput(QWindow* window) {
    if (!window || m_grabWindow || !grabDevices(*window)) {
        return false;
    }
    m_grabWindow = window;
    m_activeWhileGrabbed = QGuiApplication::applicationState() == Qt::ApplicationActive &&
                           QGuiApplication::focusWindow() == window;
    return true;
}

void QtWorkspace::releaseInput() {
    QPointer<QWindow> window = std::exchange(m_grabWindow, nullptr);
    m_activeWhileGrabbed = false;
    // A destroyed window took its grabs with it.
    if (window) {
        releaseDevices(*window);
    }
}

void QtWorkspace::installKeyMonitor(std::function<void(int keyCode)> handler) {
    if (!m_keyHandler) {
        qGuiApp->installEventFilter(this);
    }
    m_keyHandler = std::move(handler);
}

void QtWorkspace::removeKeyMonitor() {
    if (m_keyHandler) {
        qGuiApp->removeEventFilter(this);
        m_keyHandler = nullptr;
    }
}

bool QtWorkspace::eventFilter(QObject* watched, QEvent* event) {
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
