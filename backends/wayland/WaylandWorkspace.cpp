#include "backends/wayland/WaylandWorkspace.h"

#include "platform/ScreenGeometry.h"
#include "platform/ScreenIdentity.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QSinglePointEvent>
#include <QWindow>

// Watches every pointer event the application receives for where the pointer is.
class WaylandWorkspace::PointerTracker final : public QObject {
public:
    using QObject::QObject;

    // Qt's global coordinates, known only over a full-screen window: Wayland tells no
    // client where its other windows are.
    std::optional<QPointF> location;
    QPointer<QScreen> screen; // of the window the pointer was last over

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::Enter:
        case QEvent::MouseMove:
        case QEvent::MouseButtonPress:
            if (watched->isWindowType()) {
                const auto* window = static_cast<QWindow*>(watched);
                if (!window->screen())
                    break;
                screen = window->screen();
                // A full-screen window covers its screen exactly, whatever position the
                // toolkit believes the window has.
                if (window->windowStates() & Qt::WindowFullScreen)
                    location = screen->geometry().topLeft() +
                               static_cast<QSinglePointEvent*>(event)->position();
            }
            break;
        default:
            break;
        }
        return false;
    }
};

WaylandWorkspace::WaylandWorkspace(QObject* parent)
    : QtWorkspace(parent)
    , m_tracker(new PointerTracker(this)) {
    qGuiApp->installEventFilter(m_tracker);
}

WaylandWorkspace::~WaylandWorkspace() {
    releaseInput();
}

void WaylandWorkspace::prepareOverlay(QWindow& overlay) {
    overlay.showFullScreen();
}

QPointF WaylandWorkspace::mouseLocation() const {
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary)
        return {};
    // Some compositors tell a new surface nothing of the pointer until it moves (mutter),
    // and a seat may have no pointer at all: a keyboard-only pick starts from a position
    // seen before, else from the middle of the screen the pointer was last on.
    if (m_tracker->location)
        return ScreenGeometry::designPoint(*m_tracker->location, primary->geometry());
    const QScreen* screen = m_tracker->screen ? m_tracker->screen.data() : primary;
    return ScreenGeometry::designPoint(QRectF(screen->geometry()).center(), primary->geometry());
}

std::uint32_t WaylandWorkspace::displayID(QScreen* screen) const {
    return displayIDForScreenName(screen->name());
}
