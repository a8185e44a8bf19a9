#include "app/ScreenRecordingPermission.h"

#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "app/SharedInstances.h"
#include "app/TintwellApp.h"
#include "platform/ApplicationActivation.h"
#include "platform/PlatformServices.h"
#include "platform/ScreenCapture.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QProcess>

namespace {
const QString requestedKey = QStringLiteral("didRequestScreenCapture");

// The same executable with the same arguments, as a process of its own.
std::optional<QString> launchNewInstance() {
    QProcess process;
    process.setProgram(QCoreApplication::applicationFilePath());
    process.setArguments(QCoreApplication::arguments().mid(1));
    if (process.startDetached())
        return std::nullopt;
    return process.errorString();
}
} // namespace

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

ScreenRecordingPermission::ScreenRecordingPermission(
    UserDefaults& defaults, std::function<bool()> preflight, std::function<bool()> requestAccess,
    std::function<void(const QUrl&)> openURL, Relaunch relaunch, ApplicationActivation* activation,
    QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_preflight(std::move(preflight))
    , m_requestAccess(std::move(requestAccess))
    , m_openURL(std::move(openURL))
    , m_relaunch(std::move(relaunch))
    , m_activation(activation)
    , m_status(derivedStatus()) {
    // A Qt timer also fires while a menu or a modal dialog runs its own event loop.
    m_timer.setInterval(pollIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &ScreenRecordingPermission::refresh);
}

ScreenRecordingPermission::~ScreenRecordingPermission() {
    disconnect(m_activationObserver);
}

ScreenRecordingPermission& ScreenRecordingPermission::shared() {
    // The capture service knows whether the desktop lets Daubly read the screen (an X11
    // client may always read the root window). Made before start-up configured the
    // platform, the instance would never learn it: that is a programming error.
    if (!isSharedPlatformConfigured())
        Logger("Permission")
            .error("The permission was used before start-up configured the "
                   "platform; assuming the screen may be read");
    static ScreenCapture* capture =
        isSharedPlatformConfigured() ? &sharedPlatform().screenCapture() : nullptr;
    static ScreenRecordingPermission* permission = new ScreenRecordingPermission(
        UserDefaults::standard(),
        capture ? preflightOf(*capture, UserDefaults::standard()) : [] { return true; },
        [] { return capture ? capture->requestAccess() : true; },
        [](const QUrl&) {
            if (!capture || !capture->openPermissionSettings())
                Logger("Permission").log("This desktop has no screen recording settings to open");
        },
        Relaunch{launchNewInstance, [] { QCoreApplication::quit(); },
                 [] { KeyboardShortcuts::disableNames({activatePicker()}); },
                 [] { KeyboardShortcuts::enableNames({activatePicker()}); }},
        &ApplicationActivation::shared());
    return *permission;
}

std::function<bool()> ScreenRecordingPermission::preflightOf(const ScreenCapture& capture,
                                                             const UserDefaults& defaults) {
    return [&capture, &defaults] {
        // Before the desktop answers in this run, an earlier request stands: the desktop
        // remembers what the user said then.
        return capture.preflight().value_or(defaults.boolValue(requestedKey));
    };
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
    if (m_monitorCount != 1)
        return;
    m_timer.start();
    if (m_activation)
        m_activationObserver = connect(m_activation, &ApplicationActivation::didBecomeActive, this,
                                       &ScreenRecordingPermission::refresh);
}

void ScreenRecordingPermission::stopMonitoring() {
    if (m_monitorCount <= 0)
        return;
    if (--m_monitorCount != 0)
        return;
    m_timer.stop();
    disconnect(m_activationObserver);
    m_activationObserver = {};
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

void ScreenRecordingPermission::relaunch() {
    m_logger.log("Relaunching to pick up the Screen Recording permission");
    if (m_relaunch.disableShortcut)
        m_relaunch.disableShortcut();
    const std::optional<QString> error =
        m_relaunch.launchNewInstance ? m_relaunch.launchNewInstance()
                                     : std::optional<QString>(QStringLiteral("no way to relaunch"));
    if (error) {
        m_logger.error("Relaunch failed: %{public}s", *error);
        if (m_relaunch.enableShortcut)
            m_relaunch.enableShortcut();
        return;
    }
    if (m_relaunch.terminate)
        m_relaunch.terminate();
}
