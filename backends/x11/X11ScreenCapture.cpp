#include "backends/x11/X11ScreenCapture.h"

#include "backends/linux/OpaquePixels.h"
#include "backends/x11/X11ColorProfiles.h"
#include "backends/x11/X11Monitors.h"
#include "backends/x11/XcbReply.h"
#include "platform/ScreenGeometry.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/mman.h>
#include <sys/shm.h>
#include <utility>

namespace {

constexpr std::size_t hugePageSize = std::size_t{2} << 20;

// A private anonymous buffer that a QImage can own: unmapped by the image's cleanup.
struct Mapping {
    void* address = nullptr;
    std::size_t length = 0;
};

} // namespace

// Frames are unmapped on the capture's thread, not where the last image dies (the main
// thread). Freed pages stay in a cache of the processor that freed them; freed on the other
// processor, the next frame's pages come from the system's free lists, and on a virtual
// machine whose host takes free memory back the kernel then takes 60-180 ms instead of
// 4-10 to zero a 4K frame (touching 33 MB of fresh huge pages freed on the other processor
// took 8-200 ms, freed on the same one 4-12 ms). Freeing on the capture's thread helps only
// while that thread stays on its processor: bench/pick_latency.sh still shows such picks.
class X11FrameReleaser {
public:
    void attach(QThreadPool* pool) {
        std::lock_guard lock(m_mutex);
        m_pool = pool;
    }
    void release(Mapping mapping) {
        std::lock_guard lock(m_mutex);
        if (m_pool) {
            // After a capture that runs, if any: the memory goes a few ms later then.
            m_pool->start([mapping] { munmap(mapping.address, mapping.length); });
        } else {
            munmap(mapping.address, mapping.length); // no capture any more
        }
    }

private:
    std::mutex m_mutex;
    QThreadPool* m_pool = nullptr;
};

namespace {

struct OwnedMapping {
    Mapping mapping;
    std::shared_ptr<X11FrameReleaser> releaser;
};

void unmapMapping(void* info) {
    auto* owned = static_cast<OwnedMapping*>(info);
    owned->releaser->release(owned->mapping);
    delete owned;
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

// What mapFrameBuffer() maps for `bytes`.
std::size_t frameLength(std::size_t bytes) {
    return (bytes + hugePageSize - 1) / hugePageSize * hugePageSize;
}

std::optional<Mapping> mapFrameBuffer(std::size_t bytes, bool hugePages, bool populate) {
    // Where the system gives no huge pages, one populating call is about twice as fast as
    // eight thousand faults.
    if (hugePages && !hugePagesAvailable()) {
        hugePages = false;
        populate = true;
    }
    const std::size_t length = frameLength(bytes);
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

std::size_t bytesPerPixel(QImage::Format format) {
    return QImage::toPixelFormat(format).bitsPerPixel() / 8;
}

QImage wrapMapping(Mapping mapping, const QRect& rect, QImage::Format format,
                   std::shared_ptr<X11FrameReleaser> releaser) {
    auto* owned = new OwnedMapping{mapping, std::move(releaser)};
    return QImage(static_cast<uchar*>(mapping.address), rect.width(), rect.height(),
                  qsizetype(std::size_t(rect.width()) * bytesPerPixel(format)), format,
                  unmapMapping, owned);
}

// The server's pixels as the frame keeps them. Qt reads the unused top bits of its opaque
// 32-bit formats as alpha in places, and the server leaves them 0; 16-bit pixels have none.
void copyPixels(const std::uint8_t* source, std::uint8_t* target, std::size_t pixels,
                QImage::Format format) {
    switch (format) {
    case QImage::Format_RGB30:
    case QImage::Format_BGR30:
        copyOpaque(reinterpret_cast<const std::uint32_t*>(source),
                   reinterpret_cast<std::uint32_t*>(target), pixels, 0xc0000000u);
        return;
    case QImage::Format_RGB32:
    case QImage::Format_RGBX8888:
        copyOpaque(reinterpret_cast<const std::uint32_t*>(source),
                   reinterpret_cast<std::uint32_t*>(target), pixels);
        return;
    default:
        if (source != target) {
            std::memcpy(target, source, pixels * bytesPerPixel(format));
        }
        return;
    }
}

X11Error outOfMemory(const QRect& rect) {
    return {
        QStringLiteral("Out of memory for a %1 x %2 capture").arg(rect.width()).arg(rect.height())};
}

const QString readingTheScreen = QStringLiteral("Could not read the screen");

} // namespace

// Everything that talks to the server. One capture at a time (the mutex), on the pool's
// thread or on the caller's in grab(); the frame presenter borrows the connection and
// strips only while no capture runs.
class X11ScreenCapture::Worker {
public:
    Worker(QByteArray displayName, Options options)
        : m_connection(std::move(displayName))
        , m_options(std::move(options))
        , m_strips(m_options.stripBytes, m_options.keepStrips) {}

    ~Worker() {
        releasePrepared();
        disconnect();
    }

    CaptureResult capture(const std::vector<ScreenDescription>& screens) {
        std::lock_guard lock(m_mutex);
        CaptureResult result;
        if (auto error = captureInto(screens, result.snapshots)) {
            result.snapshots.clear();
            result.error = std::move(error->message);
        }
        releasePrepared(); // for monitors that changed since
        m_connection.dropQueuedEvents();
        return result;
    }

    // A frame buffer per screen, faulted in for the next capture: faulting in 33 MB is
    // most of what a 4K capture waits for, and the shortcut is held down longer than that.
    void prepare(const std::vector<ScreenDescription>& screens, std::uint64_t generation) {
        std::lock_guard lock(m_mutex);
        releasePrepared();
        m_preparedGeneration = generation;
        for (const ScreenDescription& screen : screens) {
            const QSize native = X11Monitors::nativeSize(screen.geometry, screen.devicePixelRatio);
            if (native.isEmpty()) {
                continue;
            }
            const auto bytes = std::size_t(native.width()) * std::size_t(native.height()) *
                               m_connection.bytesPerPixel();
            if (auto mapping = mapFrameBuffer(bytes, m_options.hugePages, true)) {
                m_prepared.push_back(*mapping);
            }
        }
    }

    // The buffers of that prepare(), if no capture took them.
    void dropPrepared(std::uint64_t generation) {
        std::lock_guard lock(m_mutex);
        if (generation == m_preparedGeneration) {
            releasePrepared();
        }
    }

    Transfer lastTransfer() const {
        std::lock_guard lock(m_mutex);
        return m_lastTransfer;
    }

    std::optional<bool> withIdleStrips(const std::function<bool(X11StripsChannel&)>& use) {
        std::unique_lock lock(m_mutex, std::try_to_lock);
        if (!lock.owns_lock()) {
            return std::nullopt;
        }
        if (connect() || !m_connection.hasShm() || m_options.transfer == Transfer::getImage) {
            return false;
        }
        X11StripsChannel channel{m_connection, m_strips, m_presentGC, m_options.stripBytes};
        const bool used = use(channel);
        if (!m_connection.hasShm()) {
            m_strips.release(m_connection); // refused: the slow path from now on
        }
        return used;
    }

private:
    std::optional<X11Error> connect() {
        if (!m_connection.get() || xcb_connection_has_error(m_connection.get())) {
            disconnect();
        }
        return m_connection.open();
    }

    void disconnect() {
        m_strips.release(m_connection);
        m_connection.close();
        m_presentGC = 0;
    }

    std::optional<X11Error> captureInto(const std::vector<ScreenDescription>& screens,
                                        std::vector<DisplaySnapshot>& snapshots) {
        if (auto error = connect()) {
            return error;
        }
        auto listed = X11Monitors::list(m_connection);
        if (auto* error = std::get_if<X11Error>(&listed)) {
            return std::move(*error);
        }
        const auto& monitors = std::get<std::vector<X11Monitor>>(listed);
        if (m_options.afterListing) {
            m_options.afterListing();
        }
        std::vector<X11Monitor> captured;
        // Without a monitor list the root window is the one monitor, whatever size Qt's
        // one screen has: Qt keeps the last monitor's geometry for the screen it makes up.
        const bool rootOnly = screens.size() == 1 && monitors.size() == 1 &&
                              monitors.front().nameAtom == XCB_ATOM_NONE;
        for (const ScreenDescription& screen : screens) {
            // Qt started without any monitor makes up a screen with no size: an overlay
            // there would hold the grab unseen.
            if (screen.geometry.isEmpty()) {
                continue;
            }
            const X11Monitor* monitor = rootOnly
                                            ? &monitors.front()
                                            : X11Monitors::match(screen.name, screen.geometry,
                                                                 screen.devicePixelRatio, monitors);
            if (!monitor) {
                continue; // a screen the server does not list: nothing to capture
            }
            auto image = grabRect(monitor->rect);
            if (auto* error = std::get_if<X11Error>(&image)) {
                const auto gone = X11Monitors::firstGone(m_connection, {*monitor});
                return gone ? disappeared(*gone) : std::move(*error);
            }
            QImage& pixels = std::get<QImage>(image);
            const QSize native = X11Monitors::nativeSize(screen.geometry, screen.devicePixelRatio);
            if (rootOnly && pixels.size() != native && !native.isEmpty()) {
                // Pixel for pixel where the screen and the root overlap; black beyond.
                QImage sized(native, pixels.format());
                sized.fill(Qt::black);
                QPainter(&sized).drawImage(0, 0, pixels);
                pixels = std::move(sized);
            }
            X11MonitorColors colors =
                m_profiles.colors(m_connection.get(), m_connection.root(),
                                  std::size_t(monitor - monitors.data()), monitor->displayID);
            pixels.setColorSpace(colors.space);
            snapshots.push_back(DisplaySnapshot{monitor->displayID, std::move(pixels), screen.frame,
                                                screen.name, std::move(colors.converter)});
            captured.push_back(*monitor);
        }
        // A monitor unplugged or moved while we read it may still have given pixels (of
        // whatever took its place): the frames would then be wrong.
        if (const auto gone = X11Monitors::firstGone(m_connection, captured)) {
            return disappeared(*gone);
        }
        return std::nullopt;
    }

    void releasePrepared() {
        for (const Mapping& mapping : m_prepared) {
            munmap(mapping.address, mapping.length);
        }
        m_prepared.clear();
    }

    // A prepared buffer of the frame's size, else a fresh one.
    std::optional<Mapping> frameBuffer(std::size_t bytes) {
        const auto prepared =
            std::find_if(m_prepared.begin(), m_prepared.end(), [&](const Mapping& mapping) {
                return mapping.length == frameLength(bytes);
            });
        if (prepared != m_prepared.end()) {
            const Mapping mapping = *prepared;
            m_prepared.erase(prepared);
            return mapping;
        }
        return mapFrameBuffer(bytes, m_options.hugePages, m_options.populate);
    }

    static X11Error disappeared(const X11Monitor& monitor) {
        return {
            QStringLiteral("Monitor %1 disappeared during the capture")
                .arg(monitor.name.isEmpty() ? QString::number(monitor.displayID) : monitor.name)};
    }

    std::variant<QImage, X11Error> grabRect(const QRect& rect) {
        if (rect.isEmpty()) {
            return X11Error{QStringLiteral("Monitor has no pixels")};
        }
        if (m_connection.hasShm() && m_options.transfer != Transfer::getImage) {
            auto image = m_options.transfer == Transfer::shmStrips ? grabThroughStrips(rect)
                                                                   : grabIntoSegment(rect);
            const auto* error = std::get_if<X11Error>(&image);
            if (!error || !error->refused) {
                m_lastTransfer = m_options.transfer;
                return image;
            }
            // The server could not attach our memory: use the slow path from now on.
            m_connection.giveUpShm();
            m_strips.release(m_connection);
        }
        m_lastTransfer = Transfer::getImage;
        return grabWithGetImage(rect);
    }

    // The pixels inside the replies, a strip at a time: one reply of a whole 4K frame would
    // sit just under glibc's largest mmap threshold and stay on the worker's heap after it
    // is freed (malloc_trim does not shrink a thread's arena).
    std::variant<QImage, X11Error> grabWithGetImage(const QRect& rect) {
        xcb_connection_t* c = m_connection.get();
        const QImage::Format format = m_connection.imageFormat();
        const std::size_t pixelBytes = m_connection.bytesPerPixel();
        const std::size_t rowBytes = std::size_t(rect.width()) * pixelBytes;
        const int rowsPerStrip = static_cast<int>(std::clamp<std::size_t>(
            m_options.stripBytes / rowBytes, 1, std::size_t(rect.height())));
        const int stripCount = (rect.height() + rowsPerStrip - 1) / rowsPerStrip;
        auto rowsOf = [&](int strip) {
            return std::min(rowsPerStrip, rect.height() - strip * rowsPerStrip);
        };
        auto request = [&](int strip) {
            return xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, m_connection.root(),
                                 static_cast<std::int16_t>(rect.x()),
                                 static_cast<std::int16_t>(rect.y() + strip * rowsPerStrip),
                                 static_cast<std::uint16_t>(rect.width()),
                                 static_cast<std::uint16_t>(rowsOf(strip)), ~0u);
        };
        std::array<xcb_get_image_cookie_t, 2> cookies{};
        for (int strip = 0; strip < std::min(stripCount, 2); ++strip) {
            cookies[strip] = request(strip);
        }
        auto mapping = frameBuffer(rowBytes * std::size_t(rect.height()));
        std::optional<X11Error> failed;
        if (!mapping) {
            failed = outOfMemory(rect);
        }
        for (int strip = 0; strip < stripCount; ++strip) {
            const int slot = strip % 2;
            xcb_generic_error_t* failure = nullptr;
            XcbReply<xcb_get_image_reply_t> reply(xcb_get_image_reply(c, cookies[slot], &failure));
            if (!failed && !reply) {
                failed = X11Error::fromReply(failure, readingTheScreen);
            } else {
                std::free(failure);
            }
            const std::size_t pixels = std::size_t(rowsOf(strip)) * std::size_t(rect.width());
            if (!failed &&
                std::size_t(xcb_get_image_data_length(reply.get())) < pixels * pixelBytes) {
                failed = X11Error{QStringLiteral("The X server sent a short image")};
            }
            if (failed) {
                // Collect the request still in flight, then stop.
                if (strip + 1 < stripCount) {
                    std::free(xcb_get_image_reply(c, cookies[1 - slot], nullptr));
                }
                break;
            }
            if (strip + 2 < stripCount) {
                cookies[slot] = request(strip + 2);
            }
            copyPixels(xcb_get_image_data(reply.get()),
                       static_cast<std::uint8_t*>(mapping->address) +
                           std::size_t(strip) * std::size_t(rowsPerStrip) * rowBytes,
                       pixels, format);
        }
        if (failed) {
            if (mapping) {
                munmap(mapping->address, mapping->length);
            }
            return std::move(*failed);
        }
        return wrapMapping(*mapping, rect, format, m_releaser);
    }

    xcb_shm_get_image_cookie_t requestStrip(const QRect& rect, int firstRow, int rows,
                                            const X11Segment& segment) {
        return xcb_shm_get_image(
            m_connection.get(), m_connection.root(), static_cast<std::int16_t>(rect.x()),
            static_cast<std::int16_t>(rect.y() + firstRow),
            static_cast<std::uint16_t>(rect.width()), static_cast<std::uint16_t>(rows), ~0u,
            XCB_IMAGE_FORMAT_Z_PIXMAP, segment.id, 0);
    }

    // The server fills one strip while the other is copied out.
    std::variant<QImage, X11Error> grabThroughStrips(const QRect& rect) {
        xcb_connection_t* c = m_connection.get();
        const QImage::Format format = m_connection.imageFormat();
        const std::size_t rowBytes = std::size_t(rect.width()) * m_connection.bytesPerPixel();
        const int rowsPerStrip = static_cast<int>(std::clamp<std::size_t>(
            m_options.stripBytes / rowBytes, 1, std::size_t(rect.height())));
        const std::size_t stripSize = rowBytes * std::size_t(rowsPerStrip);
        if (auto error = m_strips.ensure(m_connection, stripSize)) {
            return std::move(*error);
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
        auto mapping = frameBuffer(rowBytes * std::size_t(rect.height()));
        if (!mapping) {
            for (int strip = 0; strip < std::min(stripCount, 2); ++strip) {
                std::free(xcb_shm_get_image_reply(c, cookies[strip], nullptr));
            }
            return outOfMemory(rect);
        }
        auto* target = static_cast<std::uint8_t*>(mapping->address);
        std::optional<X11Error> failed;
        for (int strip = 0; strip < stripCount; ++strip) {
            const int slot = strip % 2;
            xcb_generic_error_t* failure = nullptr;
            XcbReply<xcb_shm_get_image_reply_t> reply(
                xcb_shm_get_image_reply(c, cookies[slot], &failure));
            if (!reply) {
                failed = X11Error::fromReply(failure, readingTheScreen);
                // Collect the other request in flight before giving up.
                if (strip + 1 < stripCount) {
                    std::free(xcb_shm_get_image_reply(c, cookies[1 - slot], nullptr));
                }
                break;
            }
            const std::size_t rows = std::size_t(rowsOf(strip));
            copyPixels(m_strips[slot].data, target + std::size_t(strip) * stripSize,
                       rows * std::size_t(rect.width()), format);
            if (strip + 2 < stripCount) {
                cookies[slot] = requestStrip(rect, (strip + 2) * rowsPerStrip, rowsOf(strip + 2),
                                             m_strips[slot]);
            }
        }
        m_strips.clear(m_connection);
        if (failed) {
            munmap(mapping->address, mapping->length);
            return std::move(*failed);
        }
        return wrapMapping(*mapping, rect, format, m_releaser);
    }

    // One fresh segment as large as the monitor, which the image then owns.
    std::variant<QImage, X11Error> grabIntoSegment(const QRect& rect) {
        xcb_connection_t* c = m_connection.get();
        const QImage::Format format = m_connection.imageFormat();
        const std::size_t pixelCount = std::size_t(rect.width()) * std::size_t(rect.height());
        const std::size_t size = pixelCount * m_connection.bytesPerPixel();
        auto attached = X11SharedMemory::attach(m_connection, size, m_options.populate);
        if (auto* error = std::get_if<X11Error>(&attached)) {
            return std::move(*error);
        }
        X11Segment& segment = std::get<X11Segment>(attached);
        xcb_generic_error_t* failure = nullptr;
        XcbReply<xcb_shm_get_image_reply_t> reply(
            xcb_shm_get_image_reply(c, requestStrip(rect, 0, rect.height(), segment), &failure));
        xcb_discard_reply(c, xcb_shm_detach_checked(c, segment.id).sequence);
        if (!reply) {
            X11SharedMemory::unmap(segment);
            return X11Error::fromReply(failure, readingTheScreen);
        }
        copyPixels(segment.data, segment.data, pixelCount, format);
        if (segment.sysV) {
            auto* data = segment.data;
            return QImage(
                data, rect.width(), rect.height(),
                qsizetype(std::size_t(rect.width()) * m_connection.bytesPerPixel()), format,
                [](void* info) { shmdt(info); }, data);
        }
        return wrapMapping(Mapping{segment.data, segment.size}, rect, format, m_releaser);
    }

public:
    const std::shared_ptr<X11FrameReleaser> m_releaser = std::make_shared<X11FrameReleaser>();

private:
    X11Connection m_connection;
    const Options m_options;
    mutable std::mutex m_mutex;
    X11Strips m_strips;
    xcb_gcontext_t m_presentGC = 0;
    Transfer m_lastTransfer = Transfer::shmStrips;
    X11ColorProfiles m_profiles;
    std::vector<Mapping> m_prepared;
    std::uint64_t m_preparedGeneration = 0;
};

X11ScreenCapture::X11ScreenCapture(QByteArray displayName, Options options)
    : m_worker(std::make_unique<Worker>(std::move(displayName), std::move(options)))
    , m_context(std::make_unique<QObject>()) {
    // One worker: captures run one after another, on a thread that stays for the next pick.
    m_pool.setMaxThreadCount(1);
    m_pool.setExpiryTimeout(-1);
    m_worker->m_releaser->attach(&m_pool);
}

X11ScreenCapture::~X11ScreenCapture() {
    m_worker->m_releaser->attach(nullptr); // frames that outlive the capture unmap themselves
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

void X11ScreenCapture::prepare() {
    const std::uint64_t generation = ++m_preparedGeneration;
    m_pool.start([this, screens = describeScreens(), generation] {
        m_worker->prepare(screens, generation);
    });
    QTimer::singleShot(preparedLifetime, m_context.get(), [this, generation] {
        m_pool.start([this, generation] { m_worker->dropPrepared(generation); });
    });
}

QColorSpace X11ScreenCapture::colorSpace(const QScreen*) {
    // The X server keeps no colour profile per monitor: its pixels are what the
    // applications drew, which is sRGB.
    return QColorSpace(QColorSpace::SRgb);
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
            ScreenGeometry::designFrame(screen->geometry(), primary), colorSpace(screen)});
    }
    return descriptions;
}

CaptureResult X11ScreenCapture::grab(const std::vector<ScreenDescription>& screens) {
    return m_worker->capture(screens);
}

std::optional<bool>
X11ScreenCapture::withIdleStrips(const std::function<bool(X11StripsChannel&)>& use) {
    return m_worker->withIdleStrips(use);
}

X11ScreenCapture::Transfer X11ScreenCapture::lastTransfer() const {
    return m_worker->lastTransfer();
}
