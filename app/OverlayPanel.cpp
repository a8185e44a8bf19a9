#include "app/OverlayPanel.h"

#include <QPointer>
#include <QPropertyAnimation>
#include <QScreen>

OverlayPanel::OverlayPanel(const DisplaySnapshot& snapshot, QScreen* screen)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::X11BypassWindowManagerHint) {
    // Bypassing the window manager (override-redirect) keeps the panel out of task bars
    // and window cycling, undecorated and above panels and docks; it gets the keyboard
    // through the session's grab instead of the window manager's focus.
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAttribute(Qt::WA_X11DoNotAcceptFocus, false);
    setCursor(Qt::BlankCursor);
    // Moves outside the view reach the panel only when it tracks the mouse too.
    setMouseTracking(true);
    const QRect geometry =
        screen ? screen->geometry() : QRect(QPoint(0, 0), snapshot.frame.size().toSize());
    if (screen) {
        setScreen(screen);
    }
    setGeometry(geometry);
    m_view = new OverlayView(snapshot, geometry.size(), this);
    m_view->setGeometry(rect());
    setFocusProxy(m_view);
}

OverlayPanel::~OverlayPanel() = default;

void OverlayPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_view->setGeometry(rect());
}

// While the pick grabs the pointer for the key overlay, moves and clicks over the other
// monitors arrive at the key panel itself, outside its view: they count all the same.
void OverlayPanel::mouseMoveEvent(QMouseEvent* event) {
    m_view->mouseMoveEvent(event);
}
void OverlayPanel::mousePressEvent(QMouseEvent* event) {
    m_view->mousePressEvent(event);
}

namespace {

// The session's handle on a real panel. Qt widgets must not be deleted inside their own
// event handlers (a right click cancels and closes from within the view's press event),
// so the panel is deleted from the event loop.
class QtOverlay final : public PickerOverlay {
public:
    explicit QtOverlay(OverlayPanel* panel)
        : m_panel(panel) {}
    ~QtOverlay() override {
        if (m_panel) {
            m_panel->hide();
            m_panel->deleteLater();
        }
    }

    void setDelegate(OverlayViewDelegate* delegate) override {
        if (m_panel) {
            m_panel->view()->setDelegate(delegate);
        }
    }
    void orderFront() override {
        if (m_panel) {
            m_panel->show();
            m_panel->raise();
        }
    }
    void makeKey() override {
        if (m_panel) {
            m_panel->activateWindow();
            m_panel->view()->setFocus(Qt::OtherFocusReason);
        }
    }
    QWindow* window() const override { return m_panel ? m_panel->windowHandle() : nullptr; }
    void showLoupe(const std::optional<QImage>& patch, const QString& text, QPointF point,
                   const PickedColor& color) override {
        if (m_panel) {
            m_panel->view()->showLoupe(patch, text, point, color);
        }
    }
    void hideLoupe() override {
        if (m_panel) {
            m_panel->view()->hideLoupe();
        }
    }
    void showCopied() override {
        if (m_panel) {
            m_panel->view()->showCopied();
        }
    }
    void showArrowCursor() override {
        if (m_panel) {
            m_panel->setCursor(Qt::ArrowCursor);
            m_panel->view()->setCursor(Qt::ArrowCursor);
        }
    }
    void fadeOut(std::chrono::milliseconds duration) override {
        if (!m_panel) {
            return;
        }
        // Needs a compositing manager to show; without one the panel stays opaque until
        // it is closed, which is what the fade would end in anyway.
        auto* fade = new QPropertyAnimation(m_panel, "windowOpacity", m_panel);
        fade->setDuration(int(duration.count()));
        fade->setStartValue(1.0);
        fade->setEndValue(0.0);
        fade->start(QAbstractAnimation::DeleteWhenStopped);
    }
    void close() override {
        if (!m_panel) {
            return;
        }
        m_panel->view()->setDelegate(nullptr);
        m_panel->hide();
        m_panel->close();
        m_panel->deleteLater();
        m_panel.clear();
    }

private:
    QPointer<OverlayPanel> m_panel;
};

} // namespace

std::unique_ptr<PickerOverlay> OverlayPanel::make(const DisplaySnapshot& snapshot,
                                                  QScreen* screen) {
    return wrap(new OverlayPanel(snapshot, screen));
}

std::unique_ptr<PickerOverlay> OverlayPanel::wrap(OverlayPanel* panel) {
    return std::make_unique<QtOverlay>(panel);
}
