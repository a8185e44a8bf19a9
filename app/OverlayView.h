#pragma once

// The content of one overlay: the frozen capture of its monitor, pixel for pixel at any
// scale, and the loupe over it. The cursor over it is invisible; mouse moves and button
// presses go to its delegate, keys go nowhere (the session reads them before any
// window does, and nothing here beeps).

#include "app/DisplaySnapshot.h"
#include "app/Loupe.h"

#include <QPointer>
#include <QWidget>
#include <optional>

class OverlayView;

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

class OverlayView : public QWidget {
    Q_OBJECT

public:
    // `frameSize` is the monitor's size in points; the snapshot's image may have more
    // pixels (a 2x monitor), and is drawn at that ratio.
    OverlayView(const DisplaySnapshot& snapshot, QSizeF frameSize, QWidget* parent = nullptr);
    ~OverlayView() override;

    void setDelegate(OverlayViewDelegate* delegate) { m_delegate = delegate; }
    OverlayViewDelegate* delegate() const { return m_delegate; }

    // `point` is in the view's coordinates (origin bottom-left, y up).
    void showLoupe(const std::optional<QImage>& patch, const QString& text, QPointF point,
                   const PickedColor& color);
    void hideLoupe();
    void showCopied();

    const Loupe& loupe() const { return m_loupe; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    // The panel hands on the mouse events that land outside the view (see OverlayPanel).
    friend class OverlayPanel;

    void repaintLoupe(const QRect& before);

    QPointer<OverlayViewDelegate> m_delegate;
    Loupe m_loupe;
    QImage m_image;
    // Image pixels per point: the snapshot's width over its frame's width.
    double m_imageScale = 1;
    bool m_reportedLoupePaint = false;
};
