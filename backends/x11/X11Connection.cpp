#include "backends/x11/X11Connection.h"

#include "backends/x11/XcbReply.h"

#include <QSysInfo>
#include <sys/socket.h>
#include <xcb/randr.h>
#include <xcb/shm.h>

namespace {

bool isLocalSocket(xcb_connection_t* connection) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    return getsockname(xcb_get_file_descriptor(connection), reinterpret_cast<sockaddr*>(&address),
                       &length) == 0 &&
           address.ss_family == AF_UNIX;
}

} // namespace

X11VisualLayout rootLayoutOf(const xcb_setup_t* setup, const xcb_screen_t& screen) {
    X11VisualLayout layout;
    layout.depth = screen.root_depth;
    layout.serverLittleEndian = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem > 0;
         xcb_format_next(&formats)) {
        if (formats.data->depth == screen.root_depth) {
            layout.bitsPerPixel = formats.data->bits_per_pixel;
        }
    }
    for (auto depths = xcb_screen_allowed_depths_iterator(&screen); depths.rem > 0;
         xcb_depth_next(&depths)) {
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem > 0;
             xcb_visualtype_next(&visuals)) {
            const xcb_visualtype_t& visual = *visuals.data;
            // Only a true-colour visual's masks say what a pixel is; a colour map's do not.
            if (visual.visual_id == screen.root_visual &&
                (visual._class == XCB_VISUAL_CLASS_TRUE_COLOR ||
                 visual._class == XCB_VISUAL_CLASS_DIRECT_COLOR)) {
                layout.redMask = visual.red_mask;
                layout.greenMask = visual.green_mask;
                layout.blueMask = visual.blue_mask;
            }
        }
    }
    return layout;
}

std::optional<QImage::Format> imageFormatOf(const X11VisualLayout& layout) {
    // The server's words are read as the host's: QImage's formats are in host order.
    if (layout.serverLittleEndian != (QSysInfo::ByteOrder == QSysInfo::LittleEndian)) {
        return std::nullopt;
    }
    struct Known {
        std::uint8_t bitsPerPixel;
        std::uint32_t red, green, blue;
        QImage::Format format;
    };
    static constexpr Known known[] = {
        {32, 0xff0000, 0xff00, 0xff, QImage::Format_RGB32},
        {32, 0xff, 0xff00, 0xff0000, QImage::Format_RGBX8888},
        {32, 0x3ff00000, 0xffc00, 0x3ff, QImage::Format_RGB30},
        {32, 0x3ff, 0xffc00, 0x3ff00000, QImage::Format_BGR30},
        {16, 0xf800, 0x7e0, 0x1f, QImage::Format_RGB16},
    };
    for (const Known& k : known) {
        if (layout.bitsPerPixel == k.bitsPerPixel && layout.redMask == k.red &&
            layout.greenMask == k.green && layout.blueMask == k.blue) {
            return k.format;
        }
    }
    return std::nullopt;
}

X11Error X11Error::fromReply(xcb_generic_error_t* failure, const QString& context) {
    if (!failure) {
        return {QStringLiteral("Lost the connection to the X server")};
    }
    const QString text = QStringLiteral("X error %1 (request %2.%3)")
                             .arg(failure->error_code)
                             .arg(failure->major_code)
                             .arg(failure->minor_code);
    std::free(failure);
    return {context.isEmpty() ? text : context + QStringLiteral(": ") + text};
}

X11Connection::X11Connection(QByteArray displayName)
    : m_displayName(std::move(displayName)) {}

X11Connection::~X11Connection() {
    close();
}

std::optional<X11Error> X11Connection::open() {
    if (m_connection && !xcb_connection_has_error(m_connection)) {
        return std::nullopt;
    }
    close();
    int screenNumber = 0;
    const QByteArray name = m_displayName.isEmpty() ? qgetenv("DISPLAY") : m_displayName;
    m_connection = xcb_connect(name.isEmpty() ? nullptr : name.constData(), &screenNumber);
    if (xcb_connection_has_error(m_connection)) {
        close();
        return X11Error{QStringLiteral("Cannot connect to the X server at \"%1\"")
                            .arg(QString::fromLocal8Bit(name))};
    }
    const xcb_setup_t* setup = xcb_get_setup(m_connection);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    if (screens.rem <= 0) {
        close();
        return X11Error{QStringLiteral("The X server has no screen %1").arg(screenNumber)};
    }
    m_root = screens.data->root;
    m_rootDepth = screens.data->root_depth;
    const X11VisualLayout layout = rootLayoutOf(setup, *screens.data);
    const std::optional<QImage::Format> format = imageFormatOf(layout);
    if (!format) {
        close();
        return X11Error{QStringLiteral("Unsupported screen format: depth %1, %2 bits per pixel")
                            .arg(layout.depth)
                            .arg(layout.bitsPerPixel)};
    }
    m_imageFormat = *format;
    m_bytesPerPixel = layout.bitsPerPixel / 8;
    queryExtensions();
    return std::nullopt;
}

void X11Connection::close() {
    if (m_connection) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
    }
    m_shm = false;
    m_shmFd = false;
    m_randr = false;
}

void X11Connection::sync() {
    if (m_connection) {
        std::free(
            xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    }
}

void X11Connection::dropQueuedEvents() {
    if (m_connection) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
            std::free(event);
        }
    }
}

void X11Connection::queryExtensions() {
    // A request of an extension the server lacks closes the connection: ask only
    // those that are there.
    const xcb_query_extension_reply_t* shm = xcb_get_extension_data(m_connection, &xcb_shm_id);
    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(m_connection, &xcb_randr_id);
    const bool hasShm = shm && shm->present;
    const bool hasRandr = randr && randr->present;
    xcb_shm_query_version_cookie_t shmCookie{};
    xcb_randr_query_version_cookie_t randrCookie{};
    if (hasShm) {
        shmCookie = xcb_shm_query_version(m_connection);
    }
    if (hasRandr) {
        randrCookie = xcb_randr_query_version(m_connection, 1, 5);
    }
    XcbReply<xcb_shm_query_version_reply_t> shmVersion(
        hasShm ? xcb_shm_query_version_reply(m_connection, shmCookie, nullptr) : nullptr);
    XcbReply<xcb_randr_query_version_reply_t> randrVersion(
        hasRandr ? xcb_randr_query_version_reply(m_connection, randrCookie, nullptr) : nullptr);
    m_shm = shmVersion != nullptr;
    // File descriptors travel only over a local socket.
    m_shmFd = m_shm &&
              (shmVersion->major_version > 1 ||
               (shmVersion->major_version == 1 && shmVersion->minor_version >= 2)) &&
              isLocalSocket(m_connection);
    m_randr =
        randrVersion && (randrVersion->major_version > 1 ||
                         (randrVersion->major_version == 1 && randrVersion->minor_version >= 5));
}
