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

// Images are read as Format_RGB32: 32 bits a pixel, red in bits 16-23, in the host's
// byte order. Anything else (16-bit visuals, big-endian servers) is refused.
std::optional<X11Error> checkPixelFormat(const xcb_setup_t* setup, const xcb_screen_t& screen) {
    int bitsPerPixel = 0;
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem > 0;
         xcb_format_next(&formats)) {
        if (formats.data->depth == screen.root_depth) {
            bitsPerPixel = formats.data->bits_per_pixel;
        }
    }
    const xcb_visualtype_t* visual = nullptr;
    for (auto depths = xcb_screen_allowed_depths_iterator(&screen); depths.rem > 0 && !visual;
         xcb_depth_next(&depths)) {
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem > 0;
             xcb_visualtype_next(&visuals)) {
            if (visuals.data->visual_id == screen.root_visual) {
                visual = visuals.data;
                break;
            }
        }
    }
    const bool hostLittleEndian = QSysInfo::ByteOrder == QSysInfo::LittleEndian;
    const bool serverLittleEndian = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    if (bitsPerPixel != 32 || !visual || visual->red_mask != 0xff0000 ||
        visual->green_mask != 0xff00 || visual->blue_mask != 0xff ||
        hostLittleEndian != serverLittleEndian) {
        return X11Error{QStringLiteral("Unsupported screen format: depth %1, %2 bits per pixel")
                            .arg(screen.root_depth)
                            .arg(bitsPerPixel)};
    }
    return std::nullopt;
}

} // namespace

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
    if (auto error = checkPixelFormat(setup, *screens.data)) {
        close();
        return error;
    }
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
