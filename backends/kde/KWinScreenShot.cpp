#include "backends/kde/KWinScreenShot.h"

#include "backends/linux/PortalScreenshot.h"
#include "backends/wayland/WaylandFrameMemory.h"
#include "platform/Logger.h"
#include "platform/ScreenIdentity.h"

#include <QColorSpace>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QMetaObject>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr auto kwinService = "org.kde.KWin";
constexpr auto screenShotPath = "/org/kde/KWin/ScreenShot2";
constexpr auto screenShotInterface = "org.kde.KWin.ScreenShot2";

const Logger& logger() {
    static const Logger instance("Capture");
    return instance;
}

// Everything written into the pipe `fd` until the writers close it, moved into a memfd by
// the kernel (no page of ours is touched on the way) and then mapped all at once: mapped
// first and read into, each of a 4K frame's 8000 pages would fault on first touch.
KWinScreenShot::Pixels drain(int fd, std::chrono::milliseconds timeout) {
    KWinScreenShot::Pixels read;
    read.fd = memfd_create("daubly-kwin-frame", MFD_CLOEXEC);
    if (read.fd < 0)
        read.error = QStringLiteral("no memory for KWin's image: %1")
                         .arg(QString::fromLocal8Bit(std::strerror(errno)));
    loff_t filled = 0;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (read.error.isEmpty()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd waiting{fd, POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&waiting, 1, int(left.count())) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            read.error = ready == 0 ? QStringLiteral("KWin wrote no image in time")
                                    : QString::fromLocal8Bit(std::strerror(errno));
            break;
        }
        const ssize_t count = ::splice(fd, nullptr, read.fd, &filled, 1 << 20, SPLICE_F_MOVE);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            read.error = QString::fromLocal8Bit(std::strerror(errno));
        if (count <= 0)
            break;
    }
    ::close(fd);
    if (read.error.isEmpty() && filled > 0) {
        void* mapped =
            ::mmap(nullptr, std::size_t(filled), PROT_READ, MAP_SHARED | MAP_POPULATE, read.fd, 0);
        if (mapped == MAP_FAILED) {
            read.error = QStringLiteral("cannot map KWin's image: %1")
                             .arg(QString::fromLocal8Bit(std::strerror(errno)));
        } else {
            read.pixels = mapped;
            read.length = std::size_t(filled);
        }
    }
    return read;
}

// What an image of KWin's pixels gives back with its last copy.
struct Mapping {
    KWinScreenShot::Pixels pixels;
    std::weak_ptr<WaylandFrameMemory> memory; // where the fd went, if it did
    bool told = false;
};

void unmap(void* info) {
    auto* mapping = static_cast<Mapping*>(info);
    const auto memory = mapping->memory.lock();
    if (mapping->told && memory) {
        // The memory closes the fd.
        memory->remove(mapping->pixels.pixels);
        mapping->pixels.fd = -1;
    }
    KWinScreenShot::release(mapping->pixels);
    delete mapping;
}

QVariantMap resultsOf(const QDBusMessage& reply) {
    if (reply.arguments().isEmpty())
        return {};
    const QVariant first = reply.arguments().constFirst();
    if (first.canConvert<QDBusArgument>())
        return qdbus_cast<QVariantMap>(first.value<QDBusArgument>());
    return first.toMap();
}

} // namespace

struct KWinScreenShot::Job {
    std::function<void(CaptureResult)> completion;
    std::vector<PortalScreenshot::ScreenDescription> screens;
    std::size_t index = 0;
    std::vector<DisplaySnapshot> snapshots;
    // The two halves of the current screen's answer, which come in either order.
    std::optional<QDBusMessage> reply;
    std::optional<Pixels> pixels;

    ~Job() {
        if (pixels)
            release(*pixels);
    }
};

KWinScreenShot::KWinScreenShot(std::unique_ptr<ScreenCapture> fallback,
                               std::shared_ptr<WaylandFrameMemory> memory, QDBusConnection bus)
    : KWinScreenShot(std::move(fallback), std::move(memory), std::move(bus), Options()) {}

KWinScreenShot::KWinScreenShot(std::unique_ptr<ScreenCapture> fallback,
                               std::shared_ptr<WaylandFrameMemory> memory, QDBusConnection bus,
                               Options options)
    : m_fallback(std::move(fallback))
    , m_memory(std::move(memory))
    , m_bus(std::move(bus))
    , m_options(options)
    , m_context(std::make_unique<QObject>()) {
    // One pipe is drained at a time: the screens are captured one after another.
    m_pool.setMaxThreadCount(1);
}

KWinScreenShot::~KWinScreenShot() {
    // Replies still to come go with their context; a pipe being drained ends by its deadline.
    m_context.reset();
    m_pool.waitForDone();
}

std::optional<bool> KWinScreenShot::preflight() const {
    return m_refused ? m_fallback->preflight() : std::optional<bool>(true);
}

bool KWinScreenShot::requestAccess() {
    return m_refused ? m_fallback->requestAccess() : true;
}

bool KWinScreenShot::openPermissionSettings() {
    return m_fallback->openPermissionSettings();
}

bool KWinScreenShot::isRefusal(const QDBusError& error) {
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
    case QDBusError::AccessDenied:
        return true;
    default:
        return error.name() == QLatin1String("org.kde.KWin.ScreenShot2.Error.NoAuthorized");
    }
}

void KWinScreenShot::release(Pixels& pixels) {
    if (pixels.pixels)
        ::munmap(pixels.pixels, pixels.length);
    if (pixels.fd >= 0)
        ::close(pixels.fd);
    pixels.pixels = nullptr;
    pixels.fd = -1;
}

KWinScreenShot::RawImage
KWinScreenShot::rawImage(const QVariantMap& results, Pixels pixels,
                         const std::shared_ptr<WaylandFrameMemory>& memory) {
    const auto fail = [&pixels](QString error) {
        release(pixels);
        return RawImage{{}, std::move(error)};
    };
    const QString type = results.value(QStringLiteral("type")).toString();
    if (!type.isEmpty() && type != QLatin1String("raw"))
        return fail(QStringLiteral("KWin sent an image of type %1").arg(type));
    const qint64 width = results.value(QStringLiteral("width")).toLongLong();
    const qint64 height = results.value(QStringLiteral("height")).toLongLong();
    const qint64 stride = results.value(QStringLiteral("stride")).toLongLong();
    const int formatNumber = results.value(QStringLiteral("format"), -1).toInt();
    const auto format = QImage::Format(formatNumber);
    const int depth = formatNumber > QImage::Format_Invalid && formatNumber < QImage::NImageFormats
                          ? QImage::toPixelFormat(format).bitsPerPixel()
                          : 0;
    // The last row needs only its pixels, not the whole stride.
    const qint64 needed = height > 0 ? stride * (height - 1) + (width * depth + 7) / 8 : 0;
    if (width <= 0 || height <= 0 || depth <= 0 || stride * 8 < width * depth ||
        stride > std::numeric_limits<int>::max() || qint64(pixels.length) < needed ||
        !pixels.pixels)
        return fail(
            QStringLiteral("KWin described %1 x %2 pixels, stride %3, format %4 over %5 bytes")
                .arg(width)
                .arg(height)
                .arg(stride)
                .arg(formatNumber)
                .arg(pixels.length));
    auto* mapping = new Mapping{pixels, memory, false};
    QImage image(static_cast<const uchar*>(pixels.pixels), int(width), int(height),
                 qsizetype(stride), format, unmap, mapping);
    // KWin composites in sRGB and hands the result over untagged.
    image.setColorSpace(QColorSpace(QColorSpace::SRgb));
    // 32-bit pixels in memory order B, G, R, X: the overlay can show these very pages. The
    // screen is opaque, so the fourth byte is ignored whatever KWin left there.
    constexpr std::uint32_t xrgb8888 = 1; // wl_shm's
    if (memory && (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
                   format == QImage::Format_ARGB32_Premultiplied)) {
        memory->add(pixels.pixels, {pixels.fd, image.size(), qsizetype(stride), xrgb8888});
        mapping->told = true;
    }
    return {std::move(image), {}};
}

void KWinScreenShot::captureAllDisplays(std::function<void(CaptureResult)> completion) {
    if (m_refused) {
        m_fallback->captureAllDisplays(std::move(completion));
        return;
    }
    auto job = std::make_shared<Job>();
    job->completion = std::move(completion);
    job->screens = PortalScreenshot::describeScreens();
    // Never from inside this call.
    QMetaObject::invokeMethod(
        m_context.get(), [this, job] { captureNext(job); }, Qt::QueuedConnection);
}

void KWinScreenShot::fallBack(std::function<void(CaptureResult)> completion, const QString& why) {
    m_refused = true;
    logger().log("Screen capture: %{public}s, as KWin refused ScreenShot2 (%{public}s)",
                 "the Screenshot portal", why);
    m_fallback->captureAllDisplays(std::move(completion));
}

void KWinScreenShot::captureNext(const std::shared_ptr<Job>& job) {
    if (job->index == job->screens.size()) {
        job->completion({std::exchange(job->snapshots, {}), std::nullopt});
        return;
    }
    const PortalScreenshot::ScreenDescription& screen = job->screens[job->index];
    const auto fail = [job](const QString& error) { job->completion({{}, error}); };
    if (!(m_bus.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing)) {
        fallBack(job->completion, QStringLiteral("the session bus passes no file descriptors"));
        return;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        fail(QStringLiteral("no pipe for KWin's image: %1")
                 .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    job->reply.reset();
    job->pixels.reset();

    QObject* context = m_context.get();
    m_pool.start([this, context, job, fd = fds[0]] {
        // What the main thread does not take (its context went with this object) goes
        // with the last reference.
        const std::shared_ptr<Pixels> read(new Pixels(drain(fd, m_options.timeout)),
                                           [](Pixels* left) {
                                               release(*left);
                                               delete left;
                                           });
        QMetaObject::invokeMethod(
            context,
            [this, job, read] {
                job->pixels = std::exchange(*read, {});
                screenDone(job);
            },
            Qt::QueuedConnection);
    });

    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kwinService), QString::fromLatin1(screenShotPath),
        QString::fromLatin1(screenShotInterface), QStringLiteral("CaptureScreen"));
    const QVariantMap options{{QStringLiteral("include-cursor"), false},
                              {QStringLiteral("native-resolution"), true}};
    // The message holds a duplicate of the write end; ours is closed at once, so the pipe
    // ends when KWin closes its copy and the sent message is gone.
    call.setArguments({screen.name, options, QVariant::fromValue(QDBusUnixFileDescriptor(fds[1]))});
    ::close(fds[1]);
    auto* watcher =
        new QDBusPendingCallWatcher(m_bus.asyncCall(call, int(m_options.timeout.count())), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [this, job, watcher] {
        job->reply = watcher->reply();
        watcher->deleteLater();
        screenDone(job);
    });
}

void KWinScreenShot::screenDone(const std::shared_ptr<Job>& job) {
    if (!job->reply || !job->pixels)
        return;
    const QString name = job->screens[job->index].name;
    const QDBusMessage reply = *std::exchange(job->reply, std::nullopt);
    Pixels pixels = *std::exchange(job->pixels, std::nullopt);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        const QDBusError error(reply);
        // A refusal shows on the first screen already; a later error is that capture's.
        release(pixels);
        if (job->index == 0 && isRefusal(error)) {
            fallBack(job->completion, error.message());
            return;
        }
        job->completion({{},
                         QStringLiteral("KWin could not capture %1: %2 (%3)")
                             .arg(name, error.message(), error.name())});
        return;
    }
    if (!pixels.error.isEmpty()) {
        release(pixels);
        job->completion({{}, QStringLiteral("KWin's image of %1: %2").arg(name, pixels.error)});
        return;
    }
    RawImage raw = rawImage(resultsOf(reply), pixels, m_memory);
    if (!raw.error.isEmpty()) {
        job->completion({{}, raw.error});
        return;
    }
    const PortalScreenshot::ScreenDescription& screen = job->screens[job->index];
    job->snapshots.push_back(
        {displayIDForScreenName(name), std::move(raw.image), screen.frame, name});
    ++job->index;
    captureNext(job);
}
