#include "backends/x11/X11FramePresenter.h"

#include "backends/x11/X11ScreenCapture.h"
#include "backends/x11/X11Screens.h"
#include "backends/x11/XcbReply.h"

#include <QImage>
#include <QWindow>
#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>
#include <xcb/shm.h>

namespace {

// A loupe's worth: sent inside the requests, and nothing waits for it (the server copies
// it out of its request buffer).
constexpr std::size_t smallImageBytes = std::size_t{1} << 18;

void copyRows(const QImage& image, int firstRow, int rows, std::uint8_t* target) {
    const std::size_t rowBytes = std::size_t(image.width()) * 4;
    if (std::size_t(image.bytesPerLine()) == rowBytes) {
        std::memcpy(target, image.constScanLine(firstRow), rowBytes * std::size_t(rows));
        return;
    }
    for (int row = 0; row < rows; ++row) {
        std::memcpy(target + std::size_t(row) * rowBytes, image.constScanLine(firstRow + row),
                    rowBytes);
    }
}

// Clipped by the window's children (the loupe), no exposure events.
xcb_gcontext_t makeGC(xcb_connection_t* connection, xcb_window_t root) {
    const xcb_gcontext_t gc = xcb_generate_id(connection);
    const std::uint32_t noExposures = 0;
    xcb_create_gc(connection, gc, root, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    return gc;
}

// The pixels inside the requests, a quarter MiB at a time, straight from the image.
void presentInRequests(xcb_connection_t* connection, xcb_gcontext_t gc, std::uint8_t depth,
                       xcb_window_t window, const QImage& image, QPoint at) {
    const std::size_t rowBytes = std::size_t(image.width()) * 4;
    const int rowsPerRequest = static_cast<int>(
        std::clamp<std::size_t>(smallImageBytes / rowBytes, 1, std::size_t(image.height())));
    const bool contiguous = std::size_t(image.bytesPerLine()) == rowBytes;
    std::vector<std::uint8_t> rowsCopy(contiguous ? 0 : rowBytes * std::size_t(rowsPerRequest));
    for (int firstRow = 0; firstRow < image.height(); firstRow += rowsPerRequest) {
        const int rows = std::min(rowsPerRequest, image.height() - firstRow);
        const std::uint8_t* data = image.constScanLine(firstRow);
        if (!contiguous) {
            copyRows(image, firstRow, rows, rowsCopy.data());
            data = rowsCopy.data();
        }
        xcb_put_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, gc,
                      static_cast<std::uint16_t>(image.width()), static_cast<std::uint16_t>(rows),
                      static_cast<std::int16_t>(at.x()),
                      static_cast<std::int16_t>(at.y() + firstRow), 0, depth,
                      static_cast<std::uint32_t>(rowBytes * std::size_t(rows)), data);
    }
    std::fill(rowsCopy.begin(), rowsCopy.end(), 0);
}

const xcb_screen_t* firstScreen(xcb_connection_t* connection) {
    return xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
}

} // namespace

X11FramePresenter::X11FramePresenter(X11ScreenCapture& capture)
    : m_capture(capture) {}

X11FramePresenter::~X11FramePresenter() = default;

bool X11FramePresenter::prepare(QWindow& window) {
    xcb_connection_t* connection = X11Screens::connection();
    if (!connection) {
        return false;
    }
    const auto id = static_cast<xcb_window_t>(window.winId());
    // Only a window of the screen's own depth takes the frame's pixels as they are, and
    // the loupe is composed as 8-bit ARGB: on any other layout (16 or 30 bits, blue first)
    // Qt paints it all.
    XcbReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, id), nullptr));
    const xcb_screen_t* screen = firstScreen(connection);
    if (!geometry || !screen || geometry->depth != screen->root_depth ||
        imageFormatOf(rootLayoutOf(xcb_get_setup(connection), *screen)) != QImage::Format_RGB32) {
        return false;
    }
    // No background: mapping the window paints nothing, and the screen shows what it
    // showed (the frame, give or take what changed since) until present() arrives.
    const std::uint32_t none = XCB_BACK_PIXMAP_NONE;
    xcb_generic_error_t* error = xcb_request_check(
        connection,
        xcb_change_window_attributes_checked(connection, id, XCB_CW_BACK_PIXMAP, &none));
    std::free(error);
    return error == nullptr;
}

bool X11FramePresenter::present(QWindow& window, const QImage& image, QPoint at) {
    xcb_connection_t* connection = X11Screens::connection();
    if (!connection || !window.handle() || image.isNull() || image.depth() != 32) {
        return false;
    }
    const auto id = static_cast<xcb_window_t>(window.winId());
    const std::size_t bytes = std::size_t(image.width()) * std::size_t(image.height()) * 4;
    if (bytes > smallImageBytes) {
        std::optional<bool> presented;
        m_capture.withIdleStrips([&](X11StripsChannel& channel) {
            presented = presentThroughStrips(channel, id, image, at);
            return presented.has_value();
        });
        if (presented) {
            return *presented;
        }
    }
    const xcb_screen_t* screen = firstScreen(connection);
    if (!screen) {
        return false;
    }
    if (!m_gc) {
        m_gc = makeGC(connection, screen->root);
    }
    presentInRequests(connection, m_gc, screen->root_depth, id, image, at);
    if (bytes <= smallImageBytes) {
        xcb_flush(connection);
        return !xcb_connection_has_error(connection);
    }
    XcbReply<xcb_get_input_focus_reply_t> reply(
        xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    return reply != nullptr;
}

void X11FramePresenter::waitUntilPresented() {
    // Frames through the strips are on screen when present() returns; what went through
    // Qt's connection is once the server answers on it.
    if (xcb_connection_t* connection = X11Screens::connection()) {
        std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    }
}

void X11FramePresenter::releaseBuffers() {
    // A capture running now clears the strips itself; the next window to go frees them.
    m_capture.withIdleStrips([](X11StripsChannel& channel) {
        channel.strips.freePages();
        return true;
    });
}

// The strips, one filling while the server reads the other. Only the server's screen is
// written to; no buffer of the frame's size is made anywhere.
std::optional<bool> X11FramePresenter::presentThroughStrips(X11StripsChannel& channel,
                                                            xcb_window_t window,
                                                            const QImage& image, QPoint at) {
    X11Connection& x11 = channel.connection;
    xcb_connection_t* connection = x11.get();
    const std::size_t rowBytes = std::size_t(image.width()) * 4;
    const int rowsPerStrip = static_cast<int>(
        std::clamp<std::size_t>(channel.stripBytes / rowBytes, 1, std::size_t(image.height())));
    if (auto error = channel.strips.ensure(x11, rowBytes * std::size_t(rowsPerStrip))) {
        if (error->refused) {
            x11.giveUpShm();
        }
        return std::nullopt;
    }
    if (!channel.gc) {
        channel.gc = makeGC(connection, x11.root());
    }
    // A strip is written again only once the server has answered a request sent after
    // the put that reads it.
    std::array<std::optional<xcb_get_input_focus_cookie_t>, 2> done{};
    bool connected = true;
    for (int firstRow = 0, strip = 0; firstRow < image.height() && connected;
         firstRow += rowsPerStrip, ++strip) {
        const int slot = strip % 2;
        if (done[slot]) {
            XcbReply<xcb_get_input_focus_reply_t> reply(
                xcb_get_input_focus_reply(connection, *done[slot], nullptr));
            done[slot].reset();
            connected = reply != nullptr;
            if (!connected) {
                break;
            }
        }
        const int rows = std::min(rowsPerStrip, image.height() - firstRow);
        copyRows(image, firstRow, rows, channel.strips[std::size_t(slot)].data);
        xcb_shm_put_image(connection, window, channel.gc, static_cast<std::uint16_t>(image.width()),
                          static_cast<std::uint16_t>(rows), 0, 0,
                          static_cast<std::uint16_t>(image.width()),
                          static_cast<std::uint16_t>(rows), static_cast<std::int16_t>(at.x()),
                          static_cast<std::int16_t>(at.y() + firstRow), x11.rootDepth(),
                          XCB_IMAGE_FORMAT_Z_PIXMAP, 0, channel.strips[std::size_t(slot)].id, 0);
        done[slot] = xcb_get_input_focus(connection);
    }
    for (auto& cookie : done) {
        if (cookie) {
            XcbReply<xcb_get_input_focus_reply_t> reply(
                xcb_get_input_focus_reply(connection, *cookie, nullptr));
            connected = connected && reply != nullptr;
        }
    }
    channel.strips.clear(x11);
    // An error here is a window that went away meanwhile: nothing to show then.
    bool failed = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
        failed = failed || event->response_type == 0;
        std::free(event);
    }
    return connected && !failed;
}
