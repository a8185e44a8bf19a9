#include "platform/linux/X11ScreenCapture.h"

#include "platform/ScreenGeometry.h"
#include "platform/linux/X11ColorProfiles.h"
#include "platform/linux/X11Screens.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QSysInfo>
#include <QWindow>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

struct FreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};
template <typename T> using XcbReply = std::unique_ptr<T, FreeDeleter>;

constexpr std::size_t hugePageSize = std::size_t{2} << 20;

// One monitor as RandR lists it, in native pixels.
struct Monitor {
    xcb_atom_t nameAtom = XCB_ATOM_NONE;
    QString name;
    std::uint32_t displayID = 0;
    QRect rect;
};

QString xError(const xcb_generic_error_t* error) {
    return QStringLiteral("X error %1 (request %2.%3)")
        .arg(error->error_code)
        .arg(error->major_code)
        .arg(error->minor_code);
}

// Copies `pixels` 32-bit pixels and sets their unused top byte: a depth-24 root window
// leaves it 0, and QImage::Format_RGB32 wants 0xff there or some paint paths treat the
// pixel as transparent.
void copyOpaque(const std::uint32_t* source, std::uint32_t* target, std::size_t pixels) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xff000000u));
    for (; i + 4 <= pixels; i += 4) {
        const __m128i value = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + i), _mm_or_si128(value, alpha));
    }
#endif
    for (; i < pixels; ++i) {
        target[i] = source[i] | 0xff000000u;
    }
}

// A private anonymous buffer that a QImage can own: unmapped by the image's cleanup.
struct Mapping {
    void* address = nullptr;
    std::size_t length = 0;
};

void unmapMapping(void* info) {
    auto* mapping = static_cast<Mapping*>(info);
    munmap(mapping->address, mapping->length);
    delete mapping;
}

// Fresh memory for one frame. Huge pages cut the page faults of 33 MB from about eight
// thousand to seventeen (populating first is optional: the copy faults them in as it goes).
// Whether madvise(MADV_HUGEPAGE) can give us huge pages: not when the system turned them off.
bool hugePagesAvailable() {
    static const bool available = [] {
        QFile file(QStringLiteral("/sys/kernel/mm/transparent_hugepage/enabled"));
        return file.open(QIODevice::ReadOnly) && !file.readAll().contains("[never]");
    }();
    return available;
}

std::optional<Mapping> mapFrameBuffer(std::size_t bytes, bool hugePages, bool populate) {
    // Where the system gives no huge pages, one populating call is about twice as fast as
    // eight thousand faults.
    if (hugePages && !hugePagesAvailable()) {
        hugePages = false;
        populate = true;
    }
    const std::size_t length = (bytes + hugePageSize - 1) / hugePageSize * hugePageSize;
    // Over-allocate so that the frame can start on a huge-page boundary.
    const std::size_t reserved = hugePages ? length + hugePageSize : length;
    void* base =
        mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) {
        return std::nullopt;
    }
    auto* start = static_cast<std::uint8_t*>(base);
    if (hugePages) {
        auto* aligned = reinterpret_cast<std::uint8_t*>(
            (reinterpret_cast<std::uintptr_t>(start) + hugePageSize - 1) & ~(hugePageSize - 1));
        if (aligned > start) {
            munmap(start, static_cast<std::size_t>(aligned - start));
        }
        const std::size_t tail = reserved - static_cast<std::size_t>(aligned - start) - length;
        if (tail > 0) {
            munmap(aligned + length, tail);
        }
        start = aligned;
        madvise(start, length, MADV_HUGEPAGE); // advice only: without it, small pages
    }
#if defined(MADV_POPULATE_WRITE)
    if (populate) {
        madvise(start, length, MADV_POPULATE_WRITE); // older kernels refuse: faults later
    }
#endif
    return Mapping{start, length};
}

QImage wrapMapping(Mapping mapping, const QRect& rect, QImage::Format format) {
    auto* owned = new Mapping(mapping);
    return QImage(static_cast<uchar*>(owned->address), rect.width(), rect.height(),
                  rect.width() * 4, format, unmapMapping, owned);
}

bool isLocalSocket(xcb_connection_t* connection) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    return getsockname(xcb_get_file_descriptor(connection), reinterpret_cast<sockaddr*>(&address),
                       &length) == 0 &&
           address.ss_family == AF_UNIX;
}

} // namespace

// Everything that talks to the server. One capture at a time (the mutex), on the pool's
// thread or on the caller's in grab().
class X11ScreenCapture::Worker {
public:
    Worker(QByteArray displayName, Options options)
        : m_displayName(std::move(displayName))
        , m_options(std::move(options)) {}

    ~Worker() { disconnect(); }

    CaptureResult capture(const std::vector<ScreenDescription>& screens) {
        std::lock_guard lock(m_mutex);
        CaptureResult result;
        if (auto error = captureInto(screens, result.snapshots)) {
            result.snapshots.clear();
            result.error = std::move(error);
        }
        // Errors of requests nobody waits on end up in the event queue; keep it empty.
        if (m_connection) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
                std::free(event);
            }
        }
        return result;
    }

    Transfer lastTransfer() const {
        std::lock_guard lock(m_mutex);
        return m_lastTransfer;
    }

    void sync() {
        std::lock_guard lock(m_mutex);
        if (m_connection) {
            std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection),
                                                nullptr));
        }
    }

    // Copies `image` into `window` (drawn from this connection: a window is anyone's to
    // draw into) through the strips, one filling while the server reads the other. Only
    // the server's screen is written to; no buffer of the frame's size is made anywhere.
    bool present(xcb_window_t window, const QImage& image, QPoint at) {
        std::lock_guard lock(m_mutex);
        if (connect() || image.isNull() || image.depth() != 32) {
            return false;
        }
        const std::size_t bytes = std::size_t(image.width()) * std::size_t(image.height()) * 4;
        if (!m_presentGC) {
            // Clipped by the window's children (the loupe), no exposure events.
            m_presentGC = xcb_generate_id(m_connection);
            const std::uint32_t noExposures = 0;
            xcb_create_gc(m_connection, m_presentGC, m_root, XCB_GC_GRAPHICS_EXPOSURES,
                          &noExposures);
        }
        // A loupe's worth goes inside the requests, and nothing waits for it: the
        // server copies it out of its request buffer.
        if (bytes <= smallImageBytes) {
            presentInRequests(window, image, at);
            xcb_flush(m_connection);
            return !xcb_connection_has_error(m_connection);
        }
        bool presented = false;
        if (m_shm && m_options.transfer != Transfer::getImage) {
            std::optional<QString> error;
            bool refused = false;
            presented = presentThroughStrips(window, image, at, error, refused);
            if (refused) {
                m_shm = false;
                releaseStrips();
            }
        }
        if (!presented && !m_shm) {
            presentInRequests(window, image, at);
            XcbReply<xcb_get_input_focus_reply_t> reply(xcb_get_input_focus_reply(
                m_connection, xcb_get_input_focus(m_connection), nullptr));
            presented = reply != nullptr;
        }
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
            // An error here is a window that went away meanwhile: nothing to show then.
            if (event->response_type == 0) {
                presented = false;
            }
            std::free(event);
        }
        return presented;
    }

private:
    // A shared-memory segment the server writes into.
    struct Segment {
        xcb_shm_seg_t id = 0;
        std::uint8_t* data = nullptr;
        std::size_t size = 0;
        bool sysV = false;
    };

    std::optional<QString> captureInto(const std::vector<ScreenDescription>& screens,
                                       std::vector<DisplaySnapshot>& snapshots) {
        if (auto error = connect()) {
            return error;
        }
        std::optional<QString> error;
        auto monitors = listMonitors(error);
        if (!monitors) {
            return error;
        }
        if (m_options.afterListing) {
            m_options.afterListing();
        }
        std::vector<Monitor> captured;
        for (const ScreenDescription& screen : screens) {
            const Monitor* monitor = match(screen, *monitors);
            if (!monitor) {
                continue; // a screen the server does not list: nothing to capture
            }
            auto image = grabRect(monitor->rect, error);
            if (!image) {
                const auto gone = firstGone({*monitor});
                return gone ? disappeared(*gone) : error;
            }
            image->setColorSpace(m_profiles.colorSpace(
                m_connection, m_root, std::size_t(monitor - monitors->data()), monitor->displayID));
            snapshots.push_back(
                DisplaySnapshot{monitor->displayID, std::move(*image), screen.frame, screen.name});
            captured.push_back(*monitor);
        }
        // A monitor unplugged or moved while we read it may still have given pixels (of
        // whatever took its place): the frames would then be wrong.
        if (const auto gone = firstGone(captured)) {
            return disappeared(*gone);
        }
        return std::nullopt;
    }

    static QString disappeared(const Monitor& monitor) {
        return QStringLiteral("Monitor %1 disappeared during the capture")
            .arg(monitor.name.isEmpty() ? QString::number(monitor.displayID) : monitor.name);
    }

    // The first of `monitors` that the server no longer lists as it was.
    std::optional<Monitor> firstGone(const std::vector<Monitor>& monitors) {
        std::optional<QString> ignored;
        const auto now = listMonitors(ignored);
        if (!now) {
            return std::nullopt; // cannot tell; the error that brought us here stands
        }
        for (const Monitor& monitor : monitors) {
            const bool there = std::any_of(now->begin(), now->end(), [&](const Monitor& other) {
                return other.nameAtom == monitor.nameAtom && other.displayID == monitor.displayID &&
                       other.rect == monitor.rect;
            });
            if (!there) {
                return monitor;
            }
        }
        return std::nullopt;
    }

    // By RandR name (Qt names its screens after the monitors), else by native geometry.
    static const Monitor* match(const ScreenDescription& screen,
                                const std::vector<Monitor>& monitors) {
        for (const Monitor& monitor : monitors) {
            if (!monitor.name.isEmpty() && monitor.name == screen.name) {
                return &monitor;
            }
        }
        // Qt keeps a screen's native top-left and divides only its size by the ratio.
        const QRect native(
            screen.geometry.topLeft(),
            QSize(
                static_cast<int>(std::lround(screen.geometry.width() * screen.devicePixelRatio)),
                static_cast<int>(std::lround(screen.geometry.height() * screen.devicePixelRatio))));
        for (const Monitor& monitor : monitors) {
            if (monitor.rect == native) {
                return &monitor;
            }
        }
        return nullptr;
    }

    std::optional<QString> connect() {
        if (m_connection && !xcb_connection_has_error(m_connection)) {
            return std::nullopt;
        }
        disconnect();
        int screenNumber = 0;
        const QByteArray name = m_displayName.isEmpty() ? qgetenv("DISPLAY") : m_displayName;
        m_connection = xcb_connect(name.isEmpty() ? nullptr : name.constData(), &screenNumber);
        if (xcb_connection_has_error(m_connection)) {
            disconnect();
            return QStringLiteral("Cannot connect to the X server at \"%1\"")
                .arg(QString::fromLocal8Bit(name));
        }
        const xcb_setup_t* setup = xcb_get_setup(m_connection);
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
        for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
            xcb_screen_next(&screens);
        }
        if (screens.rem <= 0) {
            disconnect();
            return QStringLiteral("The X server has no screen %1").arg(screenNumber);
        }
        m_root = screens.data->root;
        m_rootDepth = screens.data->root_depth;
        if (auto error = checkPixelFormat(setup, *screens.data)) {
            disconnect();
            return error;
        }
        queryExtensions();
        return std::nullopt;
    }

    void disconnect() {
        releaseStrips();
        if (m_connection) {
            xcb_disconnect(m_connection);
            m_connection = nullptr;
        }
        m_shm = false;
        m_shmFd = false;
        m_randr = false;
        m_presentGC = 0;
    }

    // Images are read as Format_RGB32: 32 bits a pixel, red in bits 16-23, in the host's
    // byte order. Anything else (16-bit visuals, big-endian servers) is refused.
    static std::optional<QString> checkPixelFormat(const xcb_setup_t* setup,
                                                   const xcb_screen_t& screen) {
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
            return QStringLiteral("Unsupported screen format: depth %1, %2 bits per pixel")
                .arg(screen.root_depth)
                .arg(bitsPerPixel);
        }
        return std::nullopt;
    }

    void queryExtensions() {
        // A request of an extension the server lacks closes the connection: ask only
        // those that are there.
        const xcb_query_extension_reply_t* shm = xcb_get_extension_data(m_connection, &xcb_shm_id);
        const xcb_query_extension_reply_t* randr =
            xcb_get_extension_data(m_connection, &xcb_randr_id);
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
        m_randr = randrVersion &&
                  (randrVersion->major_version > 1 ||
                   (randrVersion->major_version == 1 && randrVersion->minor_version >= 5));
    }

    std::optional<std::vector<Monitor>> listMonitors(std::optional<QString>& error) {
        std::vector<Monitor> monitors;
        if (!m_randr) {
            // No monitor list: the root window is the one monitor, and Qt sees one screen.
            const auto cookie = xcb_get_geometry(m_connection, m_root);
            xcb_generic_error_t* failure = nullptr;
            XcbReply<xcb_get_geometry_reply_t> geometry(
                xcb_get_geometry_reply(m_connection, cookie, &failure));
            if (!geometry) {
                error = failure ? xError(failure)
                                : QStringLiteral("Lost the connection to the X server");
                std::free(failure);
                return std::nullopt;
            }
            monitors.push_back(
                Monitor{XCB_ATOM_NONE, {}, 0, QRect(0, 0, geometry->width, geometry->height)});
            return monitors;
        }
        xcb_generic_error_t* failure = nullptr;
        XcbReply<xcb_randr_get_monitors_reply_t> reply(xcb_randr_get_monitors_reply(
            m_connection, xcb_randr_get_monitors(m_connection, m_root, 1), &failure));
        if (!reply) {
            error = failure ? QStringLiteral("Could not list the monitors: %1").arg(xError(failure))
                            : QStringLiteral("Lost the connection to the X server");
            std::free(failure);
            return std::nullopt;
        }
        std::vector<xcb_get_atom_name_cookie_t> names;
        for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
             xcb_randr_monitor_info_next(&it)) {
            const xcb_randr_monitor_info_t* info = it.data;
            const int outputCount = xcb_randr_monitor_info_outputs_length(info);
            // The output is what identifies a display; a monitor made up without one
            // (xrandr --setmonitor) is known by its name.
            const std::uint32_t id =
                outputCount > 0 ? xcb_randr_monitor_info_outputs(info)[0] : info->name;
            monitors.push_back(
                Monitor{info->name, {}, id, QRect(info->x, info->y, info->width, info->height)});
            names.push_back(xcb_get_atom_name(m_connection, info->name));
        }
        for (std::size_t i = 0; i < monitors.size(); ++i) {
            XcbReply<xcb_get_atom_name_reply_t> name(
                xcb_get_atom_name_reply(m_connection, names[i], nullptr));
            if (name) {
                monitors[i].name = QString::fromUtf8(xcb_get_atom_name_name(name.get()),
                                                     xcb_get_atom_name_name_length(name.get()));
            }
        }
        return monitors;
    }

    std::optional<QImage> grabRect(const QRect& rect, std::optional<QString>& error) {
        if (rect.isEmpty()) {
            error = QStringLiteral("Monitor has no pixels");
            return std::nullopt;
        }
        if (m_shm && m_options.transfer != Transfer::getImage) {
            bool refused = false;
            auto image = m_options.transfer == Transfer::shmStrips
                             ? grabThroughStrips(rect, error, refused)
                             : grabIntoSegment(rect, error, refused);
            if (!refused) {
                m_lastTransfer = m_options.transfer;
                return image;
            }
            // The server could not attach our memory: use the slow path from now on.
            m_shm = false;
            releaseStrips();
        }
        m_lastTransfer = Transfer::getImage;
        return grabWithGetImage(rect, error);
    }

    // The pixels inside the replies, a strip at a time: one reply of a whole 4K frame would
    // sit just under glibc's largest mmap threshold and stay on the worker's heap after it
    // is freed (malloc_trim does not shrink a thread's arena).
    std::optional<QImage> grabWithGetImage(const QRect& rect, std::optional<QString>& error) {
        const std::size_t rowBytes = std::size_t(rect.width()) * 4;
        const int rowsPerStrip = static_cast<int>(std::clamp<std::size_t>(
            m_options.stripBytes / rowBytes, 1, std::size_t(rect.height())));
        const int stripCount = (rect.height() + rowsPerStrip - 1) / rowsPerStrip;
        auto rowsOf = [&](int strip) {
            return std::min(rowsPerStrip, rect.height() - strip * rowsPerStrip);
        };
        auto request = [&](int strip) {
            return xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root,
                                 static_cast<std::int16_t>(rect.x()),
                                 static_cast<std::int16_t>(rect.y() + strip * rowsPerStrip),
                                 static_cast<std::uint16_t>(rect.width()),
                                 static_cast<std::uint16_t>(rowsOf(strip)), ~0u);
        };
        std::array<xcb_get_image_cookie_t, 2> cookies{};
        for (int strip = 0; strip < std::min(stripCount, 2); ++strip) {
            cookies[strip] = request(strip);
        }
        auto mapping = mapFrameBuffer(rowBytes * std::size_t(rect.height()), m_options.hugePages,
                                      m_options.populate);
        std::optional<QString> failed;
        if (!mapping) {
            failed = QStringLiteral("Out of memory for a %1 x %2 capture")
                         .arg(rect.width())
                         .arg(rect.height());
        }
        for (int strip = 0; strip < stripCount; ++strip) {
            const int slot = strip % 2;
            xcb_generic_error_t* failure = nullptr;
            XcbReply<xcb_get_image_reply_t> reply(
                xcb_get_image_reply(m_connection, cookies[slot], &failure));
            if (!failed && !reply) {
                failed = failure
                             ? QStringLiteral("Could not read the screen: %1").arg(xError(failure))
                             : QStringLiteral("Lost the connection to the X server");
            }
            std::free(failure);
            const std::size_t pixels = std::size_t(rowsOf(strip)) * std::size_t(rect.width());
            if (!failed && std::size_t(xcb_get_image_data_length(reply.get())) < pixels * 4) {
                failed = QStringLiteral("The X server sent a short image");
            }
            if (failed) {
                // Collect the request still in flight, then stop.
                if (strip + 1 < stripCount) {
                    std::free(xcb_get_image_reply(m_connection, cookies[1 - slot], nullptr));
                }
                break;
            }
            if (strip + 2 < stripCount) {
                cookies[slot] = request(strip + 2);
            }
            copyOpaque(reinterpret_cast<const std::uint32_t*>(xcb_get_image_data(reply.get())),
                       static_cast<std::uint32_t*>(mapping->address) +
                           std::size_t(strip) * std::size_t(rowsPerStrip) *
                               std::size_t(rect.width()),
                       pixels);
        }
        if (failed) {
            if (mapping) {
                munmap(mapping->address, mapping->length);
            }
            error = failed;
            return std::nullopt;
        }
        return wrapMapping(*mapping, rect, QImage::Format_RGB32);
    }

    // Both strips attached and at least `stripSize` large.
    bool ensureStrips(std::size_t stripSize, std::optional<QString>& error, bool& refused) {
        for (Segment& strip : m_strips) {
            if (strip.data && strip.size < stripSize) {
                detachSegment(strip);
            }
            if (!strip.data) {
                auto segment =
                    attachSegment(std::max(stripSize, m_options.stripBytes), true, error);
                if (!segment) {
                    refused = !error.has_value();
                    releaseStrips();
                    return false;
                }
                strip = *segment;
            }
        }
        return true;
    }

    // No pixel of the screen stays behind in the strips.
    void clearStrips() {
        if (m_options.keepStrips) {
            for (Segment& strip : m_strips) {
                std::memset(strip.data, 0, strip.size);
            }
        } else {
            releaseStrips();
        }
    }

    static void copyRows(const QImage& image, int firstRow, int rows, std::uint8_t* target) {
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

    static constexpr std::size_t smallImageBytes = std::size_t{1} << 18;

    bool presentThroughStrips(xcb_window_t window, const QImage& image, QPoint at,
                              std::optional<QString>& error, bool& refused) {
        const std::size_t rowBytes = std::size_t(image.width()) * 4;
        const int rowsPerStrip = static_cast<int>(std::clamp<std::size_t>(
            m_options.stripBytes / rowBytes, 1, std::size_t(image.height())));
        if (!ensureStrips(rowBytes * std::size_t(rowsPerStrip), error, refused)) {
            return false;
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
                    xcb_get_input_focus_reply(m_connection, *done[slot], nullptr));
                done[slot].reset();
                connected = reply != nullptr;
                if (!connected) {
                    break;
                }
            }
            const int rows = std::min(rowsPerStrip, image.height() - firstRow);
            copyRows(image, firstRow, rows, m_strips[slot].data);
            xcb_shm_put_image(
                m_connection, window, m_presentGC, static_cast<std::uint16_t>(image.width()),
                static_cast<std::uint16_t>(rows), 0, 0, static_cast<std::uint16_t>(image.width()),
                static_cast<std::uint16_t>(rows), static_cast<std::int16_t>(at.x()),
                static_cast<std::int16_t>(at.y() + firstRow), m_rootDepth,
                XCB_IMAGE_FORMAT_Z_PIXMAP, 0, m_strips[slot].id, 0);
            done[slot] = xcb_get_input_focus(m_connection);
        }
        for (auto& cookie : done) {
            if (cookie) {
                XcbReply<xcb_get_input_focus_reply_t> reply(
                    xcb_get_input_focus_reply(m_connection, *cookie, nullptr));
                connected = connected && reply != nullptr;
            }
        }
        clearStrips();
        return connected;
    }

    // The pixels inside the requests, a quarter MiB at a time, straight from the image.
    void presentInRequests(xcb_window_t window, const QImage& image, QPoint at) {
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
            xcb_put_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, m_presentGC,
                          static_cast<std::uint16_t>(image.width()),
                          static_cast<std::uint16_t>(rows), static_cast<std::int16_t>(at.x()),
                          static_cast<std::int16_t>(at.y() + firstRow), 0, m_rootDepth,
                          static_cast<std::uint32_t>(rowBytes * std::size_t(rows)), data);
        }
        std::fill(rowsCopy.begin(), rowsCopy.end(), 0);
    }

    // A segment shared with the server: a memfd passed over the socket where possible,
    // else System V shared memory (removed at once, so it goes when both sides detach).
    std::optional<Segment> attachSegment(std::size_t size, bool populate,
                                         std::optional<QString>& error) {
        Segment segment;
        segment.size = size;
        segment.id = xcb_generate_id(m_connection);
        xcb_void_cookie_t cookie;
        int shmId = -1;
        if (m_shmFd) {
            const int fd = memfd_create("daubly-capture", MFD_CLOEXEC);
            if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
                error = QStringLiteral("Could not create shared memory: %1")
                            .arg(QString::fromLocal8Bit(std::strerror(errno)));
                if (fd >= 0) {
                    close(fd);
                }
                return std::nullopt;
            }
            void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                              MAP_SHARED | (populate ? MAP_POPULATE : 0), fd, 0);
            if (data == MAP_FAILED) {
                error = QStringLiteral("Could not map shared memory: %1")
                            .arg(QString::fromLocal8Bit(std::strerror(errno)));
                close(fd);
                return std::nullopt;
            }
            segment.data = static_cast<std::uint8_t*>(data);
            cookie = xcb_shm_attach_fd_checked(m_connection, segment.id, fd, 0); // xcb closes fd
        } else {
            shmId = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
            if (shmId < 0) {
                error = QStringLiteral("Could not create shared memory: %1")
                            .arg(QString::fromLocal8Bit(std::strerror(errno)));
                return std::nullopt;
            }
            void* data = shmat(shmId, nullptr, 0);
            if (data == reinterpret_cast<void*>(-1)) {
                shmctl(shmId, IPC_RMID, nullptr);
                error = QStringLiteral("Could not map shared memory: %1")
                            .arg(QString::fromLocal8Bit(std::strerror(errno)));
                return std::nullopt;
            }
            segment.data = static_cast<std::uint8_t*>(data);
            segment.sysV = true;
            cookie = xcb_shm_attach_checked(m_connection, segment.id,
                                            static_cast<std::uint32_t>(shmId), 0);
        }
        xcb_generic_error_t* failure = xcb_request_check(m_connection, cookie);
        if (shmId >= 0) {
            shmctl(shmId, IPC_RMID, nullptr);
        }
        if (failure) {
            std::free(failure);
            unmapSegment(segment);
            return std::nullopt;
        }
        return segment;
    }

    void detachSegment(Segment& segment) {
        xcb_discard_reply(m_connection, xcb_shm_detach_checked(m_connection, segment.id).sequence);
        unmapSegment(segment);
    }

    static void unmapSegment(Segment& segment) {
        if (segment.sysV) {
            shmdt(segment.data);
        } else if (segment.data) {
            munmap(segment.data, segment.size);
        }
        segment.data = nullptr;
    }

    xcb_shm_get_image_cookie_t requestStrip(const QRect& rect, int firstRow, int rows,
                                            const Segment& segment) {
        return xcb_shm_get_image(m_connection, m_root, static_cast<std::int16_t>(rect.x()),
                                 static_cast<std::int16_t>(rect.y() + firstRow),
                                 static_cast<std::uint16_t>(rect.width()),
                                 static_cast<std::uint16_t>(rows), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP,
                                 segment.id, 0);
    }

    // The server fills one strip while the other is copied out.
    std::optional<QImage> grabThroughStrips(const QRect& rect, std::optional<QString>& error,
                                            bool& refused) {
        const std::size_t rowBytes = std::size_t(rect.width()) * 4;
        const int rowsPerStrip = static_cast<int>(std::clamp<std::size_t>(
            m_options.stripBytes / rowBytes, 1, std::size_t(rect.height())));
        const std::size_t stripSize = rowBytes * std::size_t(rowsPerStrip);
        if (!ensureStrips(stripSize, error, refused)) {
            return std::nullopt;
        }
        const int stripCount = (rect.height() + rowsPerStrip - 1) / rowsPerStrip;
        auto rowsOf = [&](int strip) {
            return std::min(rowsPerStrip, rect.height() - strip * rowsPerStrip);
        };
        std::array<xcb_shm_get_image_cookie_t, 2> cookies{};
        for (int strip = 0; strip < std::min(stripCount, 2); ++strip) {
            cookies[strip] =
                requestStrip(rect, strip * rowsPerStrip, rowsOf(strip), m_strips[strip]);
        }
        // The server fills the first strips while the frame's memory is faulted in.
        auto mapping = mapFrameBuffer(rowBytes * std::size_t(rect.height()), m_options.hugePages,
                                      m_options.populate);
        if (!mapping) {
            for (int strip = 0; strip < std::min(stripCount, 2); ++strip) {
                std::free(xcb_shm_get_image_reply(m_connection, cookies[strip], nullptr));
            }
            error = QStringLiteral("Out of memory for a %1 x %2 capture")
                        .arg(rect.width())
                        .arg(rect.height());
            return std::nullopt;
        }
        auto* target = static_cast<std::uint8_t*>(mapping->address);
        std::optional<QString> failed;
        for (int strip = 0; strip < stripCount; ++strip) {
            const int slot = strip % 2;
            xcb_generic_error_t* failure = nullptr;
            XcbReply<xcb_shm_get_image_reply_t> reply(
                xcb_shm_get_image_reply(m_connection, cookies[slot], &failure));
            if (!reply) {
                failed = failure
                             ? QStringLiteral("Could not read the screen: %1").arg(xError(failure))
                             : QStringLiteral("Lost the connection to the X server");
                std::free(failure);
                // Collect the other request in flight before giving up.
                if (strip + 1 < stripCount) {
                    std::free(xcb_shm_get_image_reply(m_connection, cookies[1 - slot], nullptr));
                }
                break;
            }
            const std::size_t rows = std::size_t(rowsOf(strip));
            copyOpaque(reinterpret_cast<const std::uint32_t*>(m_strips[slot].data),
                       reinterpret_cast<std::uint32_t*>(target + std::size_t(strip) * stripSize),
                       rows * std::size_t(rect.width()));
            if (strip + 2 < stripCount) {
                cookies[slot] = requestStrip(rect, (strip + 2) * rowsPerStrip, rowsOf(strip + 2),
                                             m_strips[slot]);
            }
        }
        clearStrips();
        if (failed) {
            munmap(mapping->address, mapping->length);
            error = failed;
            return std::nullopt;
        }
        return wrapMapping(*mapping, rect, QImage::Format_RGB32);
    }

    // One fresh segment as large as the monitor, which the image then owns.
    std::optional<QImage> grabIntoSegment(const QRect& rect, std::optional<QString>& error,
                                          bool& refused) {
        const std::size_t size = std::size_t(rect.width()) * std::size_t(rect.height()) * 4;
        auto segment = attachSegment(size, m_options.populate, error);
        if (!segment) {
            refused = !error.has_value();
            return std::nullopt;
        }
        xcb_generic_error_t* failure = nullptr;
        XcbReply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(
            m_connection, requestStrip(rect, 0, rect.height(), *segment), &failure));
        xcb_discard_reply(m_connection, xcb_shm_detach_checked(m_connection, segment->id).sequence);
        if (!reply) {
            error = failure ? QStringLiteral("Could not read the screen: %1").arg(xError(failure))
                            : QStringLiteral("Lost the connection to the X server");
            std::free(failure);
            unmapSegment(*segment);
            return std::nullopt;
        }
        auto* pixels = reinterpret_cast<std::uint32_t*>(segment->data);
        copyOpaque(pixels, pixels, size / 4);
        if (segment->sysV) {
            auto* data = segment->data;
            return QImage(
                data, rect.width(), rect.height(), rect.width() * 4, QImage::Format_RGB32,
                [](void* info) { shmdt(info); }, data);
        }
        return wrapMapping(Mapping{segment->data, segment->size}, rect, QImage::Format_RGB32);
    }

    void releaseStrips() {
        for (Segment& strip : m_strips) {
            if (strip.data) {
                if (m_connection) {
                    detachSegment(strip);
                } else {
                    unmapSegment(strip);
                }
            }
        }
    }

    const QByteArray m_displayName;
    const Options m_options;
    mutable std::mutex m_mutex;
    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
    std::uint8_t m_rootDepth = 0;
    xcb_gcontext_t m_presentGC = 0;
    bool m_shm = false;
    bool m_shmFd = false;
    bool m_randr = false;
    std::array<Segment, 2> m_strips{};
    Transfer m_lastTransfer = Transfer::shmStrips;
    X11ColorProfiles m_profiles;
};

X11ScreenCapture::X11ScreenCapture(QByteArray displayName, Options options)
    : m_worker(std::make_unique<Worker>(std::move(displayName), std::move(options)))
    , m_context(std::make_unique<QObject>()) {
    // One worker: captures run one after another, on a thread that stays for the next pick.
    m_pool.setMaxThreadCount(1);
    m_pool.setExpiryTimeout(-1);
}

X11ScreenCapture::~X11ScreenCapture() {
    m_pool.waitForDone();
    // Completions still queued are dropped with their context.
    m_context.reset();
}

void X11ScreenCapture::captureAllDisplays(std::function<void(CaptureResult)> completion) {
    auto screens = describeScreens();
    QObject* context = m_context.get();
    m_pool.start([this, context, screens = std::move(screens), completion = std::move(completion)] {
        // Shared and moved out on the main thread: invokeMethod may keep a copy of the functor
        // on this thread for a moment, and no copy here may hold the pixels after the pick.
        auto result = std::make_shared<CaptureResult>(m_worker->capture(screens));
        QMetaObject::invokeMethod(
            context, [completion, result] { completion(std::exchange(*result, {})); },
            Qt::QueuedConnection);
    });
}

std::vector<X11ScreenCapture::ScreenDescription> X11ScreenCapture::describeScreens() {
    std::vector<ScreenDescription> descriptions;
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.isEmpty()) {
        return descriptions;
    }
    const QRectF primary = screens.first()->geometry();
    for (QScreen* screen : screens) {
        descriptions.push_back(ScreenDescription{
            screen->name(), screen->geometry(), screen->devicePixelRatio(),
            ScreenGeometry::designFrame(screen->geometry(), primary), captureColorSpace(screen)});
    }
    return descriptions;
}

CaptureResult X11ScreenCapture::grab(const std::vector<ScreenDescription>& screens) {
    return m_worker->capture(screens);
}

bool X11ScreenCapture::prepare(QWindow& window) {
    xcb_connection_t* connection = X11Screens::connection();
    if (!connection) {
        return false;
    }
    const auto id = static_cast<xcb_window_t>(window.winId());
    // Only a window of the screen's own depth takes the frame's pixels as they are.
    XcbReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, id), nullptr));
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!geometry || !screen || geometry->depth != screen->root_depth) {
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

bool X11ScreenCapture::present(QWindow& window, const QImage& image, QPoint at) {
    return window.handle() &&
           m_worker->present(static_cast<xcb_window_t>(window.winId()), image, at);
}

void X11ScreenCapture::waitUntilPresented() {
    m_worker->sync();
}

X11ScreenCapture::Transfer X11ScreenCapture::lastTransfer() const {
    return m_worker->lastTransfer();
}
