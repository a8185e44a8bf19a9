#pragma once

// One borderless window per monitor, above everything, that shows that monitor's
// frozen capture (its OverlayView) during a pick. PickerOverlay is what the picker
// session drives of it, so that the session can be tested without windows.

#include "app/DisplaySnapshot.h"
#include "app/OverlayView.h"

#include <QWidget>
#include <chrono>
#include <memory>
#include <optional>

class QScreen;
class QWindow;

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

class OverlayPanel : public QWidget {
    Q_OBJECT

public:
    OverlayPanel(const DisplaySnapshot& snapshot, QScreen* screen);
    ~OverlayPanel() override;

    OverlayView* view() const { return m_view; }

    // The real overlay over `screen`.
    static std::unique_ptr<PickerOverlay> make(const DisplaySnapshot& snapshot, QScreen* screen);
    // The session's handle on `panel`, which it then owns.
    static std::unique_ptr<PickerOverlay> wrap(OverlayPanel* panel);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    OverlayView* m_view = nullptr;
};
