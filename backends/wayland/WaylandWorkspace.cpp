#include "backends/wayland/WaylandWorkspace.h"

#include "platform/ScreenGeometry.h"
#include "platform/ScreenIdentity.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSinglePointEvent>
#include <QWindow>

namespace {

// Far outside every monitor: no pixel is under it, so the loupe waits for the pointer.
constexpr QPointF unknownLocation(-1e9, -1e9);

} // namespace

// Watches every pointer event the application receives for where the pointer is.
class WaylandWorkspace::PointerTracker final : public QObject {
public:
    using QObject::QObject;

    std::optional<QPointF> location; // Qt's global coordinates

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::Enter:
        case QEvent::MouseMove:
        case QEvent::MouseButtonPress:
            if (watched->isWindowType()) {
                const auto* window = static_cast<QWindow*>(watched);
                const QPointF local = static_cast<QSinglePointEvent*>(event)->position();
                // A full-screen window covers its screen exactly, whatever position the
                // toolkit believes the window has.
                location = (window->windowStates() & Qt::WindowFullScreen) && window->screen()
                               ? window->screen()->geometry().topLeft() + local
                               : window->mapToGlobal(local);
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
    // Whatever was seen before belongs to another pick: the pointer may have moved since.
    m_tracker->location.reset();
    overlay.showFullScreen();
}

QPointF WaylandWorkspace::mouseLocation() const {
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary || !m_tracker->location)
        return unknownLocation;
    return ScreenGeometry::designPoint(*m_tracker->location, primary->geometry());
}

std::uint32_t WaylandWorkspace::displayID(QScreen* screen) const {
    return displayIDForScreenName(screen->name());
}
