#pragma once

// The one place that knows whether Daubly may read the screen. X11 has no such
// permission: the shared instance's preflight answers true. The model keeps the
// design's three-valued status so that a backend that has one (the Wayland screenshot
// portal) plugs in without touching its callers.

#include "platform/Logger.h"

#include <QObject>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <string_view>

class UserDefaults;

class ScreenRecordingPermission : public QObject {
    Q_OBJECT

public:
    enum class Status { notRequested, denied, granted };
    Q_ENUM(Status)

    ScreenRecordingPermission(UserDefaults& defaults, std::function<bool()> preflight,
                              std::function<bool()> requestAccess,
                              std::function<void(const QUrl&)> openURL, QObject* parent = nullptr);

    static ScreenRecordingPermission& shared();
    static QUrl settingsURL();

    Status status() const { return m_status; }
    bool hasRequested() const;

    // Re-derives the status; notifies and logs only on a change.
    void refresh();
    // Counted: the status is polled once a second while at least one view shows it.
    void startMonitoring();
    void stopMonitoring();
    void request();
    void openSystemSettings();

Q_SIGNALS:
    void statusChanged(ScreenRecordingPermission::Status status);

private:
    Status derivedStatus() const;

    UserDefaults& m_defaults;
    std::function<bool()> m_preflight;
    std::function<bool()> m_requestAccess;
    std::function<void(const QUrl&)> m_openURL;
    Status m_status;
    int m_monitorCount = 0;
    QTimer m_timer;
    Logger m_logger{"Permission"};
};

std::string_view statusName(ScreenRecordingPermission::Status status);
