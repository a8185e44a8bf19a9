#pragma once

// The one place that knows whether Daubly may read the screen. The shared instance asks
// the platform's capture service: X11 has no such permission and always answers yes; the
// screenshot portal answers what the user told the desktop.

#include "platform/Logger.h"

#include <QMetaObject>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <optional>
#include <string_view>

class ApplicationActivation;
class ScreenCapture;
class UserDefaults;

class ScreenRecordingPermission : public QObject {
    Q_OBJECT

public:
    enum class Status { notRequested, denied, granted };
    Q_ENUM(Status)

    // What a relaunch needs of the application; each part may be left empty in tests
    // that do not relaunch.
    struct Relaunch {
        // Starts a new instance of the same executable with the same arguments; the
        // reason when it could not be started.
        std::function<std::optional<QString>()> launchNewInstance;
        // Ends this instance.
        std::function<void()> terminate;
        // Releases and takes back the global pick shortcut around the launch.
        std::function<void()> disableShortcut;
        std::function<void()> enableShortcut;
    };

    ScreenRecordingPermission(UserDefaults& defaults, std::function<bool()> preflight,
                              std::function<bool()> requestAccess,
                              std::function<void(const QUrl&)> openURL, Relaunch relaunch = {},
                              ApplicationActivation* activation = nullptr,
                              QObject* parent = nullptr);
    ~ScreenRecordingPermission() override;

    static ScreenRecordingPermission& shared();
    // The preflight of a capture service: its answer, or while it has none, whether
    // Daubly asked before.
    static std::function<bool()> preflightOf(const ScreenCapture& capture,
                                             const UserDefaults& defaults);
    static QUrl settingsURL();
    // The polling interval while monitoring.
    static constexpr int pollIntervalMs = 1000;

    Status status() const { return m_status; }
    bool hasRequested() const;
    int monitorCount() const { return m_monitorCount; }
    bool isPolling() const { return m_timer.isActive(); }
    bool isObservingActivation() const { return bool(m_activationObserver); }

    // Re-derives the status; notifies and logs only on a change.
    void refresh();
    // Counted: the status is polled once a second, and refreshed whenever the
    // application becomes active, while at least one view shows it.
    void startMonitoring();
    void stopMonitoring();
    void request();
    void openSystemSettings();
    // Starts a fresh instance and quits this one; on failure this one keeps running
    // with its shortcut.
    void relaunch();

Q_SIGNALS:
    void statusChanged(ScreenRecordingPermission::Status status);

private:
    Status derivedStatus() const;

    UserDefaults& m_defaults;
    std::function<bool()> m_preflight;
    std::function<bool()> m_requestAccess;
    std::function<void(const QUrl&)> m_openURL;
    Relaunch m_relaunch;
    ApplicationActivation* m_activation;
    Status m_status;
    int m_monitorCount = 0;
    QTimer m_timer;
    QMetaObject::Connection m_activationObserver;
    Logger m_logger{"Permission"};
};

std::string_view statusName(ScreenRecordingPermission::Status status);
