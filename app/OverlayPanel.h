#pragma once

// One borderless window per monitor, above everything, that shows that monitor's
// frozen capture during a pick, with the loupe's window (its OverlayView) inside it.
// PickerOverlay is what the picker session drives of it, so that the session can be
// tested without windows.
//
// The frame is handed to a FramePresenter, which sends it through small buffers that it
// keeps: painting it through a backing store meant a fresh buffer as large as the monitor
// (33 MB at 3840 x 2160), faulted in, filled and sent, for every pick. Without a
// presenter the panel paints the image itself.

#include "app/OverlayView.h"
#include "platform/DisplaySnapshot.h"
#include "platform/FramePresenter.h"

#include <QBackingStore>
#include <QWindow>
#include <chrono>
#include <memory>
#include <optional>

class QScreen;

class PickerOverlay {
public:
    // Destroying an overlay removes its window (later, from the event loop, so that it
    // may happen inside one of its own events).
    virtual ~PickerOverlay() = default;

    virtual void setDelegate(OverlayViewDelegate* delegate) = 0;
    // Shown in front of everything, whether or not the application is active.
    virtual void orderFront() = 0;
    // Gets the keyboard focus.
    virtual void makeKey() = 0;
    // The native window, once shown; null for overlays without one.
    virtual QWindow* window() const = 0;
    virtual void showLoupe(const std::optional<QImage>& patch, const QString& text, QPointF point,
                           const PickedColor& color) = 0;
    virtual void hideLoupe() = 0;
    virtual void showCopied() = 0;
    // The arrow again instead of the invisible cursor, once the pick takes no more input.
    virtual void showArrowCursor() = 0;
    // Fades the whole window to transparent.
    virtual void fadeOut(std::chrono::milliseconds duration) = 0;
    // Clears the delegate and takes the window off the screen.
    virtual void close() = 0;
};

class OverlayPanel : public QWindow {
    Q_OBJECT

public:
    OverlayPanel(const DisplaySnapshot& snapshot, QScreen* screen,
                 FramePresenter* presenter = nullptr);
    ~OverlayPanel() override;

    OverlayView* view() const { return m_view; }
    // Whether the presenter shows the frame; otherwise the panel paints it.
    bool isPresented() const { return m_presenter != nullptr; }

    // The real overlay over `screen`.
    static std::unique_ptr<PickerOverlay> make(const DisplaySnapshot& snapshot, QScreen* screen,
                                               FramePresenter* presenter);
    // The session's handle on `panel`, which it then owns.
    static std::unique_ptr<PickerOverlay> wrap(OverlayPanel* panel);

protected:
    bool event(QEvent* event) override;
    void exposeEvent(QExposeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    // Whole frame, or only what the view has marked dirty.
    void paintPending();
    void paintFrame();
    bool presentFrameAround(const QRect& hole);
    // The loupe alone on the presenter's layer; false when it has none.
    bool presentLoupeLayer();
    void paintRects(const std::vector<QRect>& rects);
    // `rect` of the view (frame and loupe) composed in the scratch image, in device pixels.
    QImage compose(const QRect& rect);
    // A rectangle of the view in the window's device pixels.
    QRect deviceRect(const QRect& rect) const;

    DisplaySnapshot m_snapshot;
    FramePresenter* m_presenter = nullptr;
    bool m_paintPending = false;
    bool m_frameNeeded = false;
    // The loupe is on the presenter's layer: the frame, once presented, stays as it is.
    bool m_layered = false;
    // The loupe's rectangles are composed here before they are presented: a few hundred
    // kB at most, gone with the panel.
    QImage m_scratch;
    // Only when the panel paints itself: a backing store as large as the monitor.
    std::unique_ptr<QBackingStore> m_backingStore;
    OverlayView* m_view = nullptr;
};
