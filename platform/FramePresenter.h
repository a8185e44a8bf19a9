#pragma once

// Shows a full-screen image in a window without a backing store as large as the window.
// A window's first paint through the toolkit means a fresh buffer of the window's size
// (33 MB at 3840 x 2160), faulted in page by page, filled and sent: tens to hundreds of
// milliseconds per pick. A presenter sends the pixels through small buffers it keeps, and
// keeps nothing of them afterwards. The X11 one is X11ScreenCapture, which owns such
// buffers already.

#include <QImage>
#include <QPoint>
#include <QRect>

class QWindow;

class FramePresenter {
public:
    virtual ~FramePresenter() = default;

    // Readies `window` (created, not yet shown) for present(): the window system will not
    // paint it on its own, so nothing shows between mapping it and presenting. False when
    // this presenter cannot serve the window; it must then be painted the usual way.
    virtual bool prepare(QWindow& window) = 0;
    // Copies `image` into the window, which is shown, with its top-left at `at` (device
    // pixels); false when it could not. Small images are sent without waiting. A whole
    // frame whose memory the window system can read may be shown from that memory instead
    // of a copy: it must not change while the window shows it.
    virtual bool present(QWindow& window, const QImage& image, QPoint at) = 0;
    // Shows `image` on a layer above the frame with its top-left at `at` (device pixels), in
    // place of what the layer showed: where it no longer reaches, the frame shows again,
    // untouched. A null image empties the layer. Presented before the window's first frame,
    // it shows together with it. False when this presenter has no layer for the window:
    // what changes is then presented into the frame.
    virtual bool presentLayer(QWindow& window, const QImage& image, QPoint at) {
        (void)window;
        (void)image;
        (void)at;
        return false;
    }
    // Returns once the window system has drawn everything presented so far.
    virtual void waitUntilPresented() = 0;
    // A window it presented to is going: the buffers it kept are given back until the next
    // present (they hold nothing of the frames, but cost memory between picks).
    virtual void releaseBuffers() = 0;
    // Whether what is presented shows at once, with the rest of the window still showing
    // what the screen showed (X11); otherwise nothing shows until the whole frame is there,
    // so the frame goes first.
    virtual bool showsPartialFrames() const { return true; }
};
