#include "app/OverlayView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

OverlayView::OverlayView(const DisplaySnapshot& snapshot, QSizeF frameSize, QWidget* parent)
    : QWidget(parent)
    , m_image(snapshot.image) {
    // The image is shared with the snapshot, not copied: setting its device pixel ratio
    // would detach a full-screen copy, so the ratio is applied when drawing instead.
    m_imageScale = frameSize.width() > 0 ? m_image.width() / frameSize.width() : 1;
    resize(frameSize.toSize());
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::BlankCursor);
    connect(&m_loupe, &Loupe::repaintNeeded, this,
            [this] { update(m_loupe.coveredRect(height())); });
}

OverlayView::~OverlayView() = default;

void OverlayView::showLoupe(const std::optional<QImage>& patch, const QString& text, QPointF point,
                            const PickedColor& color) {
    const QRect before = m_loupe.coveredRect(height());
    m_loupe.update(patch, text, point, QRectF(0, 0, width(), height()), color, devicePixelRatioF());
    repaintLoupe(before);
}

void OverlayView::hideLoupe() {
    if (m_loupe.isHidden()) {
        return;
    }
    const QRect before = m_loupe.coveredRect(height());
    m_loupe.hide();
    repaintLoupe(before);
}

void OverlayView::showCopied() {
    m_loupe.showCopied();
    update(m_loupe.coveredRect(height()));
}

void OverlayView::repaintLoupe(const QRect& before) {
    // Only where the loupe was and where it is: the frozen frame never changes, and
    // repainting all of it on every move would cost a full-screen blit each time.
    if (!before.isEmpty()) {
        update(before);
    }
    const QRect after = m_loupe.coveredRect(height());
    if (!after.isEmpty()) {
        update(after);
    }
}

void OverlayView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    for (const QRect& rect : event->region()) {
        const QRectF source(rect.x() * m_imageScale, rect.y() * m_imageScale,
                            rect.width() * m_imageScale, rect.height() * m_imageScale);
        painter.drawImage(QRectF(rect), m_image, source);
    }
    m_loupe.paint(painter, height());
    if (!m_loupe.isHidden() && !m_reportedLoupePaint) {
        m_reportedLoupePaint = true;
        // The window gets what was painted once this event is done.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_delegate) {
                    m_delegate->overlayViewDidPaintLoupe(this);
                }
            },
            Qt::QueuedConnection);
    }
}

void OverlayView::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (m_delegate) {
        m_delegate->overlayViewDidMoveMouse(this);
    }
}

void OverlayView::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (!m_delegate) {
        return;
    }
    if (event->button() == Qt::LeftButton) {
        m_delegate->overlayViewDidClick(this);
    } else if (event->button() == Qt::RightButton) {
        m_delegate->overlayViewDidRequestCancel(this);
    }
}

// Keys are swallowed here: passing them on would reach the parent and, at the top, the
// platform's unhandled-key feedback.
void OverlayView::keyPressEvent(QKeyEvent* event) {
    event->accept();
}
void OverlayView::keyReleaseEvent(QKeyEvent* event) {
    event->accept();
}
