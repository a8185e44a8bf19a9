#include "backends/kde/KWinScreenShot.h"

#include "backends/linux/PortalScreenshot.h"
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
#include <poll.h>
#include <unistd.h>

namespace {

constexpr auto kwinService = "org.kde.KWin";
constexpr auto screenShotPath = "/org/kde/KWin/ScreenShot2";
constexpr auto screenShotInterface = "org.kde.KWin.ScreenShot2";

const Logger& logger() {
    static const Logger instance("Capture");
    return instance;
}

struct PipeRead {
    QByteArray bytes;
    QString error;
};

// Everything written into `fd` until the writers close it; `expected` bytes are reserved
// so that a frame of the size asked for is read without reallocating.
PipeRead drain(int fd, qsizetype expected, std::chrono::milliseconds timeout) {
    PipeRead read;
    read.bytes = QByteArray(std::max<qsizetype>(expected, 4096), Qt::Uninitialized);
    qsizetype filled = 0;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
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
        if (filled == read.bytes.size())
            read.bytes.resize(read.bytes.size() * 2);
        const ssize_t count = ::read(fd, read.bytes.data() + filled, read.bytes.size() - filled);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            read.error = QString::fromLocal8Bit(std::strerror(errno));
            break;
        }
        if (count == 0)
            break;
        filled += count;
    }
    ::close(fd);
    read.bytes.resize(filled);
    return read;
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
    std::optional<PipeRead> pixels;
};

KWinScreenShot::KWinScreenShot(std::unique_ptr<ScreenCapture> fallback, QDBusConnection bus)
    : KWinScreenShot(std::move(fallback), std::move(bus), Options()) {}

KWinScreenShot::KWinScreenShot(std::unique_ptr<ScreenCapture> fallback, QDBusConnection bus,
                               Options options)
    : m_fallback(std::move(fallback))
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

KWinScreenShot::RawImage KWinScreenShot::rawImage(const QVariantMap& results, QByteArray pixels) {
    const QString type = results.value(QStringLiteral("type")).toString();
    if (!type.isEmpty() && type != QLatin1String("raw"))
        return {{}, QStringLiteral("KWin sent an image of type %1").arg(type)};
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
        stride > std::numeric_limits<int>::max() || pixels.size() < needed)
        return {{},
                QStringLiteral("KWin described %1 x %2 pixels, stride %3, format %4 over %5 bytes")
                    .arg(width)
                    .arg(height)
                    .arg(stride)
                    .arg(formatNumber)
                    .arg(pixels.size())};
    // The image reads the bytes where they are and keeps them until its last copy goes.
    auto* holder = new QByteArray(std::move(pixels));
    QImage image(
        reinterpret_cast<const uchar*>(holder->constData()), int(width), int(height),
        qsizetype(stride), format, [](void* bytes) { delete static_cast<QByteArray*>(bytes); },
        holder);
    // KWin composites in sRGB and hands the result over untagged.
    image.setColorSpace(QColorSpace(QColorSpace::SRgb));
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
    const qsizetype expected = qsizetype(screen.geometry.width() * screen.devicePixelRatio) *
                               qsizetype(screen.geometry.height() * screen.devicePixelRatio) * 4;
    m_pool.start([this, context, job, fd = fds[0], expected] {
        auto read = std::make_shared<PipeRead>(drain(fd, expected, m_options.timeout));
        QMetaObject::invokeMethod(
            context,
            [this, job, read] {
                job->pixels = std::move(*read);
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
    PipeRead pixels = *std::exchange(job->pixels, std::nullopt);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        const QDBusError error(reply);
        // A refusal shows on the first screen already; a later error is that capture's.
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
        job->completion({{}, QStringLiteral("KWin's image of %1: %2").arg(name, pixels.error)});
        return;
    }
    RawImage raw = rawImage(resultsOf(reply), std::move(pixels.bytes));
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
