#include "app/OverlayPanel.h"

#include <QCoreApplication>
#include <QExposeEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPropertyAnimation>
#include <QScreen>

OverlayPanel::OverlayPanel(const DisplaySnapshot& snapshot, QScreen* screen,
                           FramePresenter* presenter)
    : m_snapshot(snapshot) {
    // Bypassing the window manager (override-redirect) keeps the panel out of task bars
    // and window cycling, undecorated and above panels and docks; it gets the keyboard
    // through the session's grab instead of the window manager's focus.
    setFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
             Qt::X11BypassWindowManagerHint);
    setSurfaceType(QSurface::RasterSurface);
    setCursor(Qt::BlankCursor);
    const QRect geometry =
        screen ? screen->geometry() : QRect(QPoint(0, 0), snapshot.frame.size().toSize());
    if (screen) {
        setScreen(screen);
    }
    setGeometry(geometry);
    // The presenter readies the window between its creation and its first showing.
    create();
    if (presenter && presenter->prepare(*this)) {
        m_presenter = presenter;
    }
    m_view = new OverlayView(snapshot, geometry.size(), this);
    connect(m_view, &OverlayView::repaintNeeded, this, [this] {
        // Before the first exposure the frame's paint covers the loupe; a request posted
        // now would also take the place of that paint's (toolkit update requests are
        // merged), and with it this request's low priority.
        if (!m_paintPending && isExposed()) {
            m_paintPending = true;
            QCoreApplication::postEvent(this, new QEvent(QEvent::UpdateRequest),
                                        Qt::LowEventPriority);
        }
    });
}

OverlayPanel::~OverlayPanel() {
    if (m_presenter) {
        m_presenter->releaseBuffers(); // the pick is over
    }
}

void OverlayPanel::exposeEvent(QExposeEvent*) {
    // Shown, or uncovered: the whole frame again (rare after the first time). Mapping
    // brings two exposures (Qt's and the server's); the frame is sent once for both. The
    // panel with the loupe goes before the others: its loupe is what the pick waits for.
    if (isExposed() && !m_frameNeeded) {
        m_frameNeeded = true;
        m_paintPending = true;
        QCoreApplication::postEvent(this, new QEvent(QEvent::UpdateRequest),
                                    m_view->loupe().isHidden() ? Qt::NormalEventPriority
                                                               : Qt::HighEventPriority);
    }
}

bool OverlayPanel::event(QEvent* event) {
    if (event->type() == QEvent::UpdateRequest) {
        paintPending();
        return true;
    }
    // Where clients learn where the pointer is only from their own windows (Wayland), the
    // pointer entering a freshly shown overlay is the first the pick hears of it.
    if (event->type() == QEvent::Enter) {
        m_view->mouseMoved();
    }
    return QWindow::event(event);
}

void OverlayPanel::paintPending() {
    if (!m_paintPending) {
        return;
    }
    m_paintPending = false;
    std::vector<QRect> rects = m_view->takeDirtyRects();
    if (!isExposed()) {
        return; // painted in full once shown
    }
    if (std::exchange(m_frameNeeded, false)) {
        paintFrame();
        return;
    }
    if (!rects.empty()) {
        if (!m_layered || !presentLoupeLayer()) {
            paintRects(rects);
        }
        if (m_presenter && !m_view->hasReportedLoupePaint()) {
            m_presenter->waitUntilPresented(); // the first loupe is timed until it shows
        }
        m_view->loupePainted();
    }
}

// The loupe first, then the frame around it: the frame is tens of MB at 4K and the loupe
// is what the pick waits for. Until the frame arrives the window, which has no background,
// shows what the screen showed: the frame, but for what changed since the capture.
void OverlayPanel::paintFrame() {
    const QRect bounds(QPoint(0, 0), size());
    if (m_presenter && !m_presenter->showsPartialFrames()) {
        // On a layer of its own, the loupe goes before the frame and shows with it.
        m_layered = presentLoupeLayer();
        if (presentFrameAround({})) {
            if (!m_layered) {
                paintRects({m_view->loupe().coveredRect(height()) & bounds});
            }
            m_presenter->waitUntilPresented();
            m_view->loupePainted();
            return;
        }
        if (std::exchange(m_layered, false)) {
            m_presenter->presentLayer(*this, QImage(), QPoint());
        }
        m_presenter = nullptr;
    }
    if (m_presenter) {
        const QRect loupe = m_view->loupe().coveredRect(height()) & bounds;
        if (!loupe.isEmpty()) {
            paintRects({loupe});
            if (!m_view->hasReportedLoupePaint()) {
                m_presenter->waitUntilPresented(); // the first loupe is timed until it shows
            }
            m_view->loupePainted();
        }
        if (presentFrameAround(deviceRect(loupe))) {
            return;
        }
        m_presenter = nullptr;
    }
    paintRects({bounds});
    m_view->loupePainted();
}

// The frame but `hole` (device pixels): the bands above and below it, and the parts of
// its rows left and right of it. The parts are views of the image, not copies.
bool OverlayPanel::presentFrameAround(const QRect& hole) {
    const QImage& image = m_snapshot.image;
    if (image.depth() != 32) {
        return false;
    }
    const QRect all = image.rect();
    const QRect cut = hole & all;
    std::vector<QRect> parts;
    if (cut.isEmpty()) {
        parts.push_back(all);
    } else {
        parts = {QRect(QPoint(0, 0), QPoint(all.right(), cut.top() - 1)),
                 QRect(QPoint(0, cut.top()), QPoint(cut.left() - 1, cut.bottom())),
                 QRect(QPoint(cut.right() + 1, cut.top()), QPoint(all.right(), cut.bottom())),
                 QRect(QPoint(0, cut.bottom() + 1), all.bottomRight())};
    }
    for (const QRect& part : parts) {
        if (part.isEmpty()) {
            continue;
        }
        const QImage view(image.constScanLine(part.y()) + std::size_t(part.x()) * 4, part.width(),
                          part.height(), image.bytesPerLine(), image.format());
        if (!m_presenter->present(*this, view, part.topLeft())) {
            return false;
        }
    }
    return true;
}

bool OverlayPanel::presentLoupeLayer() {
    const QRect rect = m_view->loupe().coveredRect(height()) & QRect(QPoint(0, 0), size());
    if (rect.isEmpty()) {
        return m_presenter->presentLayer(*this, QImage(), QPoint());
    }
    return m_presenter->presentLayer(*this, compose(rect), deviceRect(rect).topLeft());
}

QRect OverlayPanel::deviceRect(const QRect& rect) const {
    const double ratio = devicePixelRatio();
    return QRect(QPoint(qRound(rect.x() * ratio), qRound(rect.y() * ratio)),
                 QSize(qRound(rect.width() * ratio), qRound(rect.height() * ratio)));
}

void OverlayPanel::paintRects(const std::vector<QRect>& rects) {
    if (!m_presenter) {
        if (!m_backingStore) {
            m_backingStore = std::make_unique<QBackingStore>(this);
        }
        QRegion region;
        for (const QRect& rect : rects) {
            region += rect;
        }
        m_backingStore->resize(size());
        m_backingStore->beginPaint(region);
        if (QPaintDevice* device = m_backingStore->paintDevice()) {
            QPainter painter(device);
            for (const QRect& rect : rects) {
                m_view->paint(painter, rect);
            }
        }
        m_backingStore->endPaint();
        m_backingStore->flush(region);
        return;
    }
    for (const QRect& rect : rects) {
        const QRect device = deviceRect(rect);
        if (!device.isEmpty()) {
            m_presenter->present(*this, compose(rect), device.topLeft());
        }
    }
}

QImage OverlayPanel::compose(const QRect& rect) {
    const QRect device = deviceRect(rect);
    if (m_scratch.width() < device.width() || m_scratch.height() < device.height()) {
        m_scratch = QImage(device.size().expandedTo(m_scratch.size()), QImage::Format_RGB32);
    }
    // A view of the scratch image exactly the rectangle's size, no copy.
    QImage target(m_scratch.bits(), device.width(), device.height(), m_scratch.bytesPerLine(),
                  m_scratch.format());
    target.setDevicePixelRatio(devicePixelRatio());
    {
        // Ended before the image is handed on: an image being painted is copied.
        QPainter painter(&target);
        painter.translate(-rect.topLeft());
        m_view->paint(painter, rect);
    }
    return target;
}

// While the pick grabs the pointer for the key overlay, moves and clicks over the other
// monitors arrive at the key panel too: they count all the same. The loupe's window
// takes no input, so everything over this monitor arrives here.
void OverlayPanel::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    m_view->mouseMoved();
}

void OverlayPanel::mousePressEvent(QMouseEvent* event) {
    event->accept();
    m_view->mousePressed(event->button());
}

// Keys are swallowed here: the session reads them before any window does, and nothing
// passed on may reach the platform's unhandled-key feedback.
void OverlayPanel::keyPressEvent(QKeyEvent* event) {
    event->accept();
}

void OverlayPanel::keyReleaseEvent(QKeyEvent* event) {
    event->accept();
}

namespace {

// The session's handle on a real panel. Qt windows must not be deleted inside their own
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
            m_panel->requestActivate();
        }
    }
    QWindow* window() const override { return m_panel; }
    void showLoupe(const std::optional<QImage>& patch, const QString& text, QPointF point,
                   const PickedColor& color) override {
        if (m_panel) {
            m_panel->view()->showLoupe(patch, text, point, color, m_panel->devicePixelRatio());
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
        }
    }
    void fadeOut(std::chrono::milliseconds duration) override {
        if (!m_panel) {
            return;
        }
        // Needs a compositing manager to show; without one the panel stays opaque until
        // it is closed, which is what the fade would end in anyway.
        auto* fade = new QPropertyAnimation(m_panel, "opacity", m_panel);
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

std::unique_ptr<PickerOverlay> OverlayPanel::make(const DisplaySnapshot& snapshot, QScreen* screen,
                                                  FramePresenter* presenter) {
    return wrap(new OverlayPanel(snapshot, screen, presenter));
}

std::unique_ptr<PickerOverlay> OverlayPanel::wrap(OverlayPanel* panel) {
    return std::make_unique<QtOverlay>(panel);
}
