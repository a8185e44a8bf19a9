#include "app/OverlayView.h"

#include <QPainter>

OverlayView::OverlayView(const DisplaySnapshot& snapshot, QSizeF frameSize, QObject* parent)
    : QObject(parent)
    , m_image(snapshot.image)
    , m_frameSize(frameSize) {
    // The image is shared with the snapshot, not copied: setting its device pixel ratio
    // would detach a full-screen copy, so the ratio is applied when drawing instead.
    m_imageScale = frameSize.width() > 0 ? m_image.width() / frameSize.width() : 1;
    connect(&m_loupe, &Loupe::repaintNeeded, this, &OverlayView::markLoupe);
}

OverlayView::~OverlayView() = default;

void OverlayView::showLoupe(const std::optional<QImage>& patch, const QString& text, QPointF point,
                            const PickedColor& color, double scale) {
    markLoupe();
    m_loupe.update(patch, text, point, QRectF(QPointF(0, 0), m_frameSize), color, scale);
    markLoupe();
}

void OverlayView::hideLoupe() {
    if (m_loupe.isHidden()) {
        return;
    }
    markLoupe();
    m_loupe.hide();
}

void OverlayView::showCopied() {
    m_loupe.showCopied();
    markLoupe();
}

void OverlayView::markLoupe() {
    // Only where the loupe was and where it is: the frozen frame never changes, and
    // repainting all of it on every move would cost a full-screen transfer each time.
    const QRect covered = m_loupe.coveredRect(m_frameSize.height());
    if (covered.isEmpty()) {
        return;
    }
    const bool wasClean = m_dirty.empty();
    QRect merged = covered;
    // Rectangles that touch become one; merging may make it touch others.
    for (bool grew = true; grew;) {
        grew = false;
        for (auto it = m_dirty.begin(); it != m_dirty.end(); ++it) {
            if (it->adjusted(-1, -1, 1, 1).intersects(merged)) {
                merged |= *it;
                m_dirty.erase(it);
                grew = true;
                break;
            }
        }
    }
    m_dirty.push_back(merged);
    if (wasClean) {
        Q_EMIT repaintNeeded();
    }
}

void OverlayView::paint(QPainter& painter, const QRect& rect) const {
    painter.save();
    painter.setClipRect(rect);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    const QRectF source(rect.x() * m_imageScale, rect.y() * m_imageScale,
                        rect.width() * m_imageScale, rect.height() * m_imageScale);
    painter.drawImage(QRectF(rect), m_image, source);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    m_loupe.paint(painter, m_frameSize.height());
    painter.restore();
}

void OverlayView::loupePainted() {
    if (!m_loupe.isHidden() && !m_reportedLoupePaint && m_delegate) {
        m_reportedLoupePaint = true;
        m_delegate->overlayViewDidPaintLoupe(this);
    }
}

void OverlayView::mouseMoved() {
    if (m_delegate) {
        m_delegate->overlayViewDidMoveMouse(this);
    }
}

void OverlayView::mousePressed(Qt::MouseButton button) {
    if (!m_delegate) {
        return;
    }
    if (button == Qt::LeftButton) {
        m_delegate->overlayViewDidClick(this);
    } else if (button == Qt::RightButton) {
        m_delegate->overlayViewDidRequestCancel(this);
    }
}
