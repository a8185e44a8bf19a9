#include "app/ScreenRecordingPermission.h"

#include "platform/UserDefaults.h"

namespace {
const QString requestedKey = QStringLiteral("didRequestScreenCapture");
}

std::string_view statusName(ScreenRecordingPermission::Status status) {
    switch (status) {
    case ScreenRecordingPermission::Status::notRequested:
        return "notRequested";
    case ScreenRecordingPermission::Status::denied:
        return "denied";
    case ScreenRecordingPermission::Status::granted:
        return "granted";
    }
    return "notRequested";
}

ScreenRecordingPermission::ScreenRecordingPermission(UserDefaults& defaults,
                                                     std::function<bool()> preflight,
                                                     std::function<bool()> requestAccess,
                                                     std::function<void(const QUrl&)> openURL,
                                                     QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_preflight(std::move(preflight))
    , m_requestAccess(std::move(requestAccess))
    , m_openURL(std::move(openURL))
    , m_status(derivedStatus()) {
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &ScreenRecordingPermission::refresh);
}

ScreenRecordingPermission& ScreenRecordingPermission::shared() {
    // An X11 client may read the root window: there is nothing to ask for.
    static ScreenRecordingPermission* permission = new ScreenRecordingPermission(
        UserDefaults::standard(), [] { return true; }, [] { return true; },
        [](const QUrl&) {
            Logger("Permission").log("This desktop has no screen recording settings to open");
        });
    return *permission;
}

QUrl ScreenRecordingPermission::settingsURL() {
    static const QUrl url(QStringLiteral(
        "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture"));
    return url;
}

bool ScreenRecordingPermission::hasRequested() const {
    return m_defaults.boolValue(requestedKey);
}

ScreenRecordingPermission::Status ScreenRecordingPermission::derivedStatus() const {
    if (m_preflight())
        return Status::granted;
    return hasRequested() ? Status::denied : Status::notRequested;
}

void ScreenRecordingPermission::refresh() {
    const Status status = derivedStatus();
    if (status == m_status)
        return;
    m_status = status;
    Q_EMIT statusChanged(status);
    m_logger.log("Screen Recording permission is now %{public}s", statusName(status));
}

void ScreenRecordingPermission::startMonitoring() {
    ++m_monitorCount;
    refresh();
    if (m_monitorCount == 1)
        m_timer.start();
}

void ScreenRecordingPermission::stopMonitoring() {
    if (m_monitorCount <= 0)
        return;
    if (--m_monitorCount == 0)
        m_timer.stop();
}

void ScreenRecordingPermission::request() {
    if (hasRequested()) {
        m_openURL(settingsURL());
    } else {
        m_defaults.setValue(requestedKey, true);
        m_requestAccess();
    }
    refresh();
}

void ScreenRecordingPermission::openSystemSettings() {
    m_openURL(settingsURL());
}
