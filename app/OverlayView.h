#pragma once

// The content of one overlay: the frozen capture of its monitor, pixel for pixel at any
// scale, and the loupe over it. The view owns no window: its panel shows the frame once
// and then, for every change of the loupe, only the rectangles where the loupe was and
// is, which the view paints (frame and loupe) on request. Mouse moves and button
// presses that reach the panel go to the view's delegate; keys go nowhere.

#include "app/Loupe.h"
#include "platform/DisplaySnapshot.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <optional>
#include <utility>
#include <vector>

class OverlayView;
class QPainter;

// The picker session: told about the mouse over any overlay. Held weakly by the views.
class OverlayViewDelegate : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    virtual void overlayViewDidMoveMouse(OverlayView* view) = 0;
    virtual void overlayViewDidClick(OverlayView* view) = 0;
    virtual void overlayViewDidRequestCancel(OverlayView* view) = 0;
    // The view's loupe has been painted and handed to the window system, the first
    // time since the view was made.
    virtual void overlayViewDidPaintLoupe(OverlayView* view) { static_cast<void>(view); }
};

class OverlayView : public QObject {
    Q_OBJECT

public:
    // `frameSize` is the monitor's size in points; the snapshot's image may have more
    // pixels (a 2x monitor), and is drawn at that ratio.
    OverlayView(const DisplaySnapshot& snapshot, QSizeF frameSize, QObject* parent = nullptr);
    ~OverlayView() override;

    void setDelegate(OverlayViewDelegate* delegate) { m_delegate = delegate; }
    OverlayViewDelegate* delegate() const { return m_delegate; }

    // `point` is in the view's coordinates (origin bottom-left, y up).
    void showLoupe(const std::optional<QImage>& patch, const QString& text, QPointF point,
                   const PickedColor& color, double scale = 1);
    void hideLoupe();
    void showCopied();

    const Loupe& loupe() const { return m_loupe; }
    QSizeF frameSize() const { return m_frameSize; }
    const QImage& image() const { return m_image; }

    // What has to be painted again since the last takeDirtyRects(), in the view's
    // coordinates (top-left origin, points): where the loupe was and where it is, one
    // rectangle where the two overlap (one transfer), two where they do not.
    std::vector<QRect> takeDirtyRects() { return std::exchange(m_dirty, {}); }
    // Paints `rect` of the overlay (view coordinates): the frozen capture and the loupe.
    // The painter's origin is the view's top-left.
    void paint(QPainter& painter, const QRect& rect) const;
    // The panel has put a loupe on screen.
    void loupePainted();
    bool hasReportedLoupePaint() const { return m_reportedLoupePaint; }

    // The panel hands on the mouse.
    void mouseMoved();
    void mousePressed(Qt::MouseButton button);

Q_SIGNALS:
    // Something is dirty; the panel paints it from the event loop.
    void repaintNeeded();

private:
    void markLoupe();

    QPointer<OverlayViewDelegate> m_delegate;
    Loupe m_loupe;
    QImage m_image;
    QSizeF m_frameSize;
    // Image pixels per point: the snapshot's width over its frame's width.
    double m_imageScale = 1;
    std::vector<QRect> m_dirty;
    bool m_reportedLoupePaint = false;
};
