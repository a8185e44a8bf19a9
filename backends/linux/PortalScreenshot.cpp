#include "backends/linux/PortalScreenshot.h"

#include "backends/linux/PortalRequest.h"
#include "backends/linux/PrimaryFirstScreens.h"
#include "platform/Logger.h"
#include "platform/ScreenGeometry.h"
#include "platform/ScreenIdentity.h"

#include <QColorSpace>
#include <QCoreApplication>
#include <QDBusMessage>
#include <QFile>
#include <QMetaObject>
#include <QProcess>
#include <QScreen>
#include <QThreadPool>
#include <QUrl>
#include <cmath>

namespace {

constexpr auto screenshotInterface = "org.freedesktop.portal.Screenshot";

const Logger& logger() {
    static const Logger instance("Picker");
    return instance;
}

struct TakenFile {
    QByteArray bytes;
    QString error;
};

// The file's bytes, and the file gone: also when it cannot be read.
TakenFile takeFile(const QString& path) {
    TakenFile taken;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        taken.bytes = file.readAll();
    if (taken.bytes.isEmpty())
        taken.error =
            QStringLiteral("could not read the screenshot %1: %2").arg(path, file.errorString());
    file.close();
    if (QFile::exists(path) && !QFile::remove(path))
        logger().error("Could not delete the screenshot %{public}s: %{public}s", path,
                       file.errorString());
    return taken;
}

} // namespace

PortalScreenshot::PortalScreenshot(QDBusConnection bus)
    : PortalScreenshot(std::move(bus), Options()) {}

PortalScreenshot::PortalScreenshot(QDBusConnection bus, Options options)
    : m_bus(std::move(bus))
    , m_options(options)
    , m_context(std::make_unique<QObject>()) {
    // Decoding runs off the main thread, one screenshot at a time.
    m_pool.setMaxThreadCount(1);
}

PortalScreenshot::~PortalScreenshot() {
    // A screenshot being decoded finishes first; requests still waiting and completions
    // still queued go with their context.
    m_pool.waitForDone();
    m_context.reset();
}

std::vector<PortalScreenshot::ScreenDescription> PortalScreenshot::describeScreens() {
    std::vector<ScreenDescription> descriptions;
    const QList<QScreen*> screens = primaryFirstScreens();
    if (screens.isEmpty())
        return descriptions;
    const QRectF primaryGeometry = screens.first()->geometry();
    for (QScreen* screen : screens)
        descriptions.push_back({screen->name(), screen->geometry(), screen->devicePixelRatio(),
                                ScreenGeometry::designFrame(screen->geometry(), primaryGeometry)});
    return descriptions;
}

CaptureResult PortalScreenshot::cut(const QImage& layout,
                                    const std::vector<ScreenDescription>& screens) {
    CaptureResult result;
    if (screens.empty())
        return result;
    QRect bounds;
    for (const ScreenDescription& screen : screens)
        bounds = bounds.united(screen.geometry);
    // One scale for the whole image: a desktop renders the layout at one scale (the
    // largest of its screens), which is each screen's device pixel ratio when they agree.
    const double scale = bounds.width() > 0 ? double(layout.width()) / bounds.width() : 0;
    if (layout.isNull() || scale <= 0 || std::abs(layout.height() - bounds.height() * scale) > 1) {
        result.error = QStringLiteral("the screenshot is %1 x %2 pixels, which does not fit the "
                                      "screens' layout of %3 x %4")
                           .arg(layout.width())
                           .arg(layout.height())
                           .arg(bounds.width())
                           .arg(bounds.height());
        return result;
    }
    // Untagged pixels are what the applications drew, which is sRGB.
    const QColorSpace space =
        layout.colorSpace().isValid() ? layout.colorSpace() : QColorSpace(QColorSpace::SRgb);
    for (const ScreenDescription& screen : screens) {
        const QRect pixels =
            QRectF((screen.geometry.x() - bounds.x()) * scale,
                   (screen.geometry.y() - bounds.y()) * scale, screen.geometry.width() * scale,
                   screen.geometry.height() * scale)
                .toRect()
                .intersected(layout.rect());
        QImage image = layout.copy(pixels);
        // A screen of a lower scale than the image's is brought back to its own pixels, so
        // that the loupe and the arrow keys step by real pixels; only by a whole factor,
        // which drops the repeated pixels and blends none.
        const double factor = scale / screen.devicePixelRatio;
        if (factor > 1.5 && std::abs(factor - std::round(factor)) < 0.01) {
            const int whole = int(std::round(factor));
            image = image.scaled(image.width() / whole, image.height() / whole,
                                 Qt::IgnoreAspectRatio, Qt::FastTransformation);
        }
        image.setColorSpace(space);
        result.snapshots.push_back(
            {displayIDForScreenName(screen.name), std::move(image), screen.frame, screen.name});
    }
    return result;
}

void PortalScreenshot::captureAllDisplays(std::function<void(CaptureResult)> completion) {
    screenshot(std::move(completion), describeScreens());
}

bool PortalScreenshot::requestAccess() {
    screenshot([](const CaptureResult&) {}, {});
    return true;
}

void PortalScreenshot::screenshot(std::function<void(CaptureResult)> completion,
                                  std::vector<ScreenDescription> screens) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(PortalRequest::serviceName),
        QString::fromLatin1(PortalRequest::objectPath), QString::fromLatin1(screenshotInterface),
        QStringLiteral("Screenshot"));
    // Not interactive: no dialog to choose an area, the whole layout at once.
    call.setArguments({QString(), QVariantMap{{QStringLiteral("interactive"), false}}});
    QObject* context = m_context.get();
    const auto fail = [completion](const QString& error) { completion({{}, error}); };
    const auto deliver = [this, context, completion, fail,
                          screens = std::move(screens)](const PortalAnswer& answer) {
        if (!answer.response) {
            if (answer.timedOut) {
                logger().error("The screenshot portal did not answer in %ld ms: given up",
                               static_cast<long>(m_options.timeout.count()));
                fail(noAnswerMessage());
                return;
            }
            fail(answer.error);
            return;
        }
        if (*answer.response != 0) {
            if (isRefusal(*answer.response)) {
                m_allowed = false;
                fail(QStringLiteral("the desktop refused the screenshot (response %1)")
                         .arg(*answer.response));
            } else {
                fail(QStringLiteral("the screenshot portal failed (response %1)")
                         .arg(*answer.response));
            }
            return;
        }
        m_allowed = true;
        const QUrl uri(answer.results.value(QStringLiteral("uri")).toString());
        if (!uri.isLocalFile()) {
            fail(QStringLiteral("the screenshot portal answered no file (%1)").arg(uri.toString()));
            return;
        }
        m_pool.start([context, completion, screens, path = uri.toLocalFile()] {
            const TakenFile taken = takeFile(path);
            auto result = std::make_shared<CaptureResult>();
            if (!taken.error.isEmpty()) {
                result->error = taken.error;
            } else if (!screens.empty()) {
                const QImage layout = QImage::fromData(taken.bytes);
                if (layout.isNull())
                    result->error = QStringLiteral("the screenshot %1 is not an image").arg(path);
                else
                    *result = cut(layout, screens);
            }
            QMetaObject::invokeMethod(
                context, [completion, result] { completion(std::exchange(*result, {})); },
                Qt::QueuedConnection);
        });
    };
    // A screenshot that comes after the deadline is deleted unread; what the user
    // answered still counts for the next pick.
    const auto lateAnswer = [this](const PortalAnswer& answer) {
        if (!answer.response)
            return;
        if (*answer.response == 0)
            m_allowed = true;
        else if (isRefusal(*answer.response))
            m_allowed = false;
        const QUrl uri(answer.results.value(QStringLiteral("uri")).toString());
        if (answer.response == 0u && uri.isLocalFile())
            takeFile(uri.toLocalFile());
    };
    PortalRequest::start(m_bus, call, 1, m_options.timeout, context, deliver, lateAnswer);
}

bool PortalScreenshot::isRefusal(std::uint32_t response) {
    return response == 1 || response == 2;
}

QString PortalScreenshot::noAnswerMessage() {
    return QCoreApplication::translate("PortalScreenshot",
                                       "Your desktop did not answer when Daubly asked to read "
                                       "the screen. Try again.");
}

std::optional<QStringList> PortalScreenshot::privacySettingsCommand(const QString& currentDesktop) {
    // Where each desktop lists what an app may do with the screen. GNOME 43 has no
    // privacy panel: its Apps panel holds each app's "Screenshots" switch, and opens on
    // the app named after it.
    for (const QString& desktop : currentDesktop.split(u':', Qt::SkipEmptyParts)) {
        const QString name = desktop.trimmed().toLower();
        if (name == u"gnome" || name == u"unity" || name == u"budgie")
            return QStringList{QStringLiteral("gnome-control-center"),
                               QStringLiteral("applications"), QStringLiteral("app.daubly.Daubly")};
        if (name == u"kde")
            return QStringList{QStringLiteral("systemsettings"),
                               QStringLiteral("kcm_app-permissions")};
    }
    return std::nullopt;
}

bool PortalScreenshot::openPermissionSettings() {
    const auto command = privacySettingsCommand(qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
    if (!command)
        return false;
    if (!QProcess::startDetached(command->first(), command->mid(1))) {
        logger().error("Could not open the privacy settings with %{public}s", command->join(u' '));
        return false;
    }
    return true;
}
