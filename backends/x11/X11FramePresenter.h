#pragma once

// Presents frames on X11. A frame goes through the capture's kept strips when no capture
// runs (it never waits behind one); otherwise, and for small images such as the loupe,
// the pixels travel inside the requests on Qt's own connection, which only the main
// thread uses for this.

#include "platform/FramePresenter.h"

#include <optional>
#include <xcb/xcb.h>

class X11ScreenCapture;
struct X11StripsChannel;

class X11FramePresenter final : public FramePresenter {
public:
    explicit X11FramePresenter(X11ScreenCapture& capture);
    ~X11FramePresenter() override;
    X11FramePresenter(const X11FramePresenter&) = delete;
    X11FramePresenter& operator=(const X11FramePresenter&) = delete;

    bool prepare(QWindow& window) override;
    bool present(QWindow& window, const QImage& image, QPoint at) override;
    void waitUntilPresented() override;
    void releaseBuffers() override;

private:
    // None when the strips cannot be had: the caller sends the pixels another way.
    std::optional<bool> presentThroughStrips(X11StripsChannel& channel, xcb_window_t window,
                                             const QImage& image, QPoint at);

    X11ScreenCapture& m_capture;
    xcb_gcontext_t m_gc = 0; // on Qt's connection
};
