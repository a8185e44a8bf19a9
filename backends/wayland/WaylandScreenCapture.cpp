#include "backends/wayland/WaylandScreenCapture.h"

#include "backends/linux/OpaquePixels.h"
#include "backends/wayland/WaylandConnection.h"
#include "backends/wayland/WaylandCursorShield.h"
#include "backends/wayland/WaylandFrameMemory.h"
#include "platform/ScreenGeometry.h"
#include "platform/ScreenIdentity.h"
#include "wlr-screencopy-unstable-v1-client-protocol.h"

#include <QColorSpace>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QSemaphore>
#include <QTimer>
#include <QTransform>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>
#include <wayland-client.h>

namespace {

// One output's frame on its way from the compositor.
struct Frame {
    const WaylandScreenCapture::ScreenDescription* screen = nullptr;
    std::int32_t transform = 0; // of the output, which may go while the frame is copied
    zwlr_screencopy_frame_v1* frame = nullptr;
    wl_buffer* buffer = nullptr;
    std::uint32_t format = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t stride = 0;
    std::uint32_t flags = 0;
    void* pixels = nullptr; // mapped once the frame is ready
    std::size_t length = 0;
    int fd = -1;
    bool done = false;
    std::optional<QString> error;
    wl_shm* shm = nullptr;

    ~Frame() {
        if (buffer)
            wl_buffer_destroy(buffer);
        if (frame)
            zwlr_screencopy_frame_v1_destroy(frame);
        if (pixels)
            munmap(pixels, length);
        if (fd >= 0)
            close(fd);
    }

    void fail(QString why) {
        error = std::move(why);
        done = true;
    }

    // The compositor says which buffer it wants: ours is a fresh memfd of that size.
    void allocate() {
        length = std::size_t(stride) * height;
        fd = memfd_create("daubly-frame", MFD_CLOEXEC);
        if (fd < 0 || ftruncate(fd, off_t(length)) < 0) {
            fail(QStringLiteral("no memory for a frame of %1 x %2").arg(width).arg(height));
            return;
        }
        wl_shm_pool* pool = wl_shm_create_pool(shm, fd, std::int32_t(length));
        buffer = wl_shm_pool_create_buffer(pool, 0, std::int32_t(width), std::int32_t(height),
                                           std::int32_t(stride), format);
        // The buffer keeps the pool's memory.
        wl_shm_pool_destroy(pool);
        zwlr_screencopy_frame_v1_copy(frame, buffer);
    }

    // The compositor wrote the pixels: they are mapped only now, all at once. Mapped
    // before, each of the frame's pages would fault on first touch (8000 of them for a
    // 4K frame: 30-40 ms). The fd stays for the overlay, which may show the same memory.
    void map() {
        void* mapped =
            mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, 0);
        if (mapped == MAP_FAILED) {
            fail(QStringLiteral("no memory for a frame of %1 x %2").arg(width).arg(height));
            return;
        }
        pixels = mapped;
        done = true;
    }
};

Frame* frameOf(void* data) {
    return static_cast<Frame*>(data);
}

const zwlr_screencopy_frame_v1_listener frameListener = {
    [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t format, std::uint32_t width,
       std::uint32_t height, std::uint32_t stride) {
        Frame* frame = frameOf(data);
        if (frame->buffer || frame->done)
            return;
        frame->format = format;
        frame->width = width;
        frame->height = height;
        frame->stride = stride;
        frame->allocate();
    },
    [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t flags) {
        frameOf(data)->flags = flags;
    },
    [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t) {
        frameOf(data)->map();
    },
    [](void* data, zwlr_screencopy_frame_v1*) {
        frameOf(data)->fail(QStringLiteral("the compositor could not copy monitor %1")
                                .arg(frameOf(data)->screen->name));
    },
    // Bound at version 1: the later events never come.
    nullptr,
    nullptr,
    nullptr,
};

// What an image made of a frame's memory lets go of with its last copy.
struct Mapping {
    void* pixels = nullptr;
    std::size_t length = 0;
    std::shared_ptr<WaylandFrameMemory> memory; // knows the fd, if anyone does
};

void unmapImage(void* info) {
    const auto* mapping = static_cast<Mapping*>(info);
    // Forgotten before it is unmapped: the address may be mapped again at once.
    if (mapping->memory)
        mapping->memory->remove(mapping->pixels);
    munmap(mapping->pixels, mapping->length);
    delete mapping;
}

// The frame as an image that owns the frame's memory, upright as the user sees it.
std::optional<QImage> imageOf(Frame& frame, const std::shared_ptr<WaylandFrameMemory>& memory) {
    QImage::Format format = QImage::Format_Invalid;
    bool padded = false; // the top byte of each pixel is not alpha
    switch (frame.format) {
    case WL_SHM_FORMAT_XRGB8888:
        format = QImage::Format_RGB32;
        padded = true;
        break;
    case WL_SHM_FORMAT_ARGB8888:
        format = QImage::Format_ARGB32_Premultiplied;
        break;
    case WL_SHM_FORMAT_XBGR8888:
        format = QImage::Format_RGBX8888;
        padded = true; // the last byte in memory, the top one on little-endian
        break;
    case WL_SHM_FORMAT_ABGR8888:
        format = QImage::Format_RGBA8888_Premultiplied;
        break;
    default:
        return std::nullopt;
    }
    auto* mapping = new Mapping{std::exchange(frame.pixels, nullptr), frame.length, memory};
    if (memory)
        memory->add(mapping->pixels,
                    {std::exchange(frame.fd, -1), QSize(int(frame.width), int(frame.height)),
                     qsizetype(frame.stride), frame.format});
    QImage image(static_cast<uchar*>(mapping->pixels), int(frame.width), int(frame.height),
                 qsizetype(frame.stride), format, unmapImage, mapping);
    if (padded)
        copyOpaque(reinterpret_cast<const std::uint32_t*>(image.constBits()),
                   reinterpret_cast<std::uint32_t*>(image.bits()), frame.length / 4);
    if (frame.flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT)
        image = std::move(image).mirrored(false, true);
    // The frame is in the panel's own orientation: the output's transform turned (and
    // flipped) what the user sees into it, so its inverse turns it back.
    const std::int32_t transform = frame.transform;
    if (transform != WL_OUTPUT_TRANSFORM_NORMAL) {
        QTransform back;
        back.rotate(90.0 * (transform & 3));
        if (transform & 4) // flipped around the vertical axis before the turn
            back *= QTransform::fromScale(-1, 1);
        image = image.transformed(back);
    }
    image.setColorSpace(QColorSpace(QColorSpace::SRgb));
    return image;
}

} // namespace

WaylandScreenCapture::WaylandScreenCapture(QByteArray displayName,
                                           std::shared_ptr<WaylandFrameMemory> memory)
    : m_connection(std::make_unique<WaylandConnection>(std::move(displayName)))
    , m_shield(std::make_unique<WaylandCursorShield>(*m_connection))
    , m_context(std::make_unique<QObject>())
    , m_memory(std::move(memory)) {
    // One worker: captures run one after another, on a thread that stays for the next pick.
    m_pool.setMaxThreadCount(1);
    m_pool.setExpiryTimeout(-1);
}

WaylandScreenCapture::~WaylandScreenCapture() {
    m_pool.waitForDone();
    m_shield->lower();
    // Completions still queued are dropped with their context.
    m_context.reset();
}

void WaylandScreenCapture::captureAllDisplays(std::function<void(CaptureResult)> completion) {
    auto screens = describeScreens();
    QObject* context = m_context.get();
    m_pool.start([this, context, screens = std::move(screens), completion = std::move(completion)] {
        // Moved out on the main thread: no copy left here may hold the pixels after the pick.
        auto result = std::make_shared<CaptureResult>(capture(screens, true));
        const std::uint64_t shield = m_shieldsRaised;
        QMetaObject::invokeMethod(
            context,
            [this, completion, result, shield] {
                m_shieldHandedOver = shield;
                const bool failed = result->error.has_value();
                completion(std::exchange(*result, {}));
                // The overlays, if any, were made during the completion.
                if (failed || !m_overlaysPending || !m_overlaysPending())
                    lowerShield(shield);
                else
                    QTimer::singleShot(shieldTimeout, m_context.get(),
                                       [this, shield] { lowerShield(shield); });
            },
            Qt::QueuedConnection);
    });
}

void WaylandScreenCapture::setOverlaysPending(std::function<bool()> overlaysPending) {
    m_overlaysPending = std::move(overlaysPending);
}

void WaylandScreenCapture::overlaysShowing() {
    const std::uint64_t raised = m_shieldHandedOver;
    auto lowered = std::make_shared<QSemaphore>();
    m_pool.start([this, raised, lowered] {
        if (raised == m_shieldsRaised && m_shield->isRaised()) {
            m_shield->lower();
            // Gone for the compositor before the overlay maps on Qt's connection.
            m_connection->roundtrip();
        }
        lowered->release();
    });
    // At worst (the worker busy with another capture) the shield goes after that one.
    lowered->tryAcquire(1, int(shieldLoweringWait.count()));
}

void WaylandScreenCapture::lowerShield(std::uint64_t raised) {
    // On the worker, whose connection the shield is on; a newer capture's shield stays.
    m_pool.start([this, raised] {
        if (raised == m_shieldsRaised)
            m_shield->lower();
    });
}

std::vector<WaylandScreenCapture::ScreenDescription> WaylandScreenCapture::describeScreens() {
    std::vector<ScreenDescription> descriptions;
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.isEmpty())
        return descriptions;
    const QRectF primary = QGuiApplication::primaryScreen()->geometry();
    descriptions.push_back({});
    for (QScreen* screen : screens) {
        const ScreenDescription description{
            screen->name(), ScreenGeometry::designFrame(screen->geometry(), primary)};
        if (screen == QGuiApplication::primaryScreen())
            descriptions.front() = description;
        else
            descriptions.push_back(description);
    }
    return descriptions;
}

CaptureResult WaylandScreenCapture::grab(const std::vector<ScreenDescription>& screens) {
    return capture(screens, false);
}

CaptureResult WaylandScreenCapture::capture(const std::vector<ScreenDescription>& screens,
                                            bool keepShield) {
    CaptureResult result = grabBehindShield(screens);
    if (!keepShield || result.error)
        m_shield->lower();
    return result;
}

CaptureResult
WaylandScreenCapture::grabBehindShield(const std::vector<ScreenDescription>& screens) {
    if (screens.empty())
        return {{}, QStringLiteral("no monitor to capture")};
    // A shield still up goes before the connection may be closed under it.
    m_shield->lower();
    if (auto error = m_connection->open())
        return {{}, *error};
    if (!m_connection->screencopy() || !m_connection->shm())
        return {{}, QStringLiteral("the compositor offers no screen copy")};

    std::vector<const WaylandOutput*> outputs;
    for (const ScreenDescription& screen : screens) {
        const WaylandOutput* output = m_connection->output(screen.name);
        if (!output)
            return {{}, QStringLiteral("monitor %1 is gone").arg(screen.name)};
        outputs.push_back(output);
    }
    // Where the shield cannot hide the cursor, the capture is still worth having.
    ++m_shieldsRaised;
    m_shield->raise(outputs);

    std::vector<std::unique_ptr<Frame>> frames;
    for (const ScreenDescription& screen : screens) {
        // Looked up again: the outputs may have changed while the shield went up.
        const WaylandOutput* output = m_connection->output(screen.name);
        if (!output)
            return {{}, QStringLiteral("monitor %1 is gone").arg(screen.name)};
        auto frame = std::make_unique<Frame>();
        frame->screen = &screen;
        frame->transform = output->transform;
        frame->shm = m_connection->shm();
        // Every output at once: the compositor copies them in one go.
        frame->frame = zwlr_screencopy_manager_v1_capture_output(m_connection->screencopy(), 0,
                                                                 output->output);
        zwlr_screencopy_frame_v1_add_listener(frame->frame, &frameListener, frame.get());
        frames.push_back(std::move(frame));
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const auto allDone = [&] {
        return std::all_of(frames.begin(), frames.end(), [](const auto& f) { return f->done; });
    };
    while (!allDone()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !m_connection->dispatch(left)) {
            // A late answer must not reach frames that are gone.
            frames.clear();
            m_shield->lower();
            m_connection->close();
            return {{}, QStringLiteral("the compositor did not copy the monitors in time")};
        }
    }

    CaptureResult result;
    for (auto& frame : frames) {
        if (frame->error)
            return {{}, *frame->error};
        std::optional<QImage> image = imageOf(*frame, m_memory);
        if (!image)
            return {{},
                    QStringLiteral("monitor %1 came in an unknown pixel format (%2)")
                        .arg(frame->screen->name)
                        .arg(frame->format, 8, 16, QLatin1Char('0'))};
        result.snapshots.push_back(DisplaySnapshot{displayIDForScreenName(frame->screen->name),
                                                   std::move(*image), frame->screen->frame,
                                                   frame->screen->name});
    }
    return result;
}
