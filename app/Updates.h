#pragma once

// Software updates around the updater of platform/: the controller created at start-up,
// the delegate of the user driver, the model every "Check for Updates…" control and the
// automatic-check switch follow, and the windows and notification that show what a
// check found. Without a feed the updater is inert: it cannot check and automatic
// checks are off.

#include "platform/FeedUpdater.h"
#include "platform/Updater.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

class QDialog;
class UserDefaults;

// The feed this build reads: -DDAUBLY_UPDATE_FEED_URL=..., or the environment's
// DAUBLY_UPDATE_FEED_URL (to try a feed without rebuilding); empty for none.
QUrl configuredUpdateFeed();

class UpdaterUserDriverDelegate {
public:
    // Scheduled checks remind gently (a tray notification), never with a window.
    bool supportsGentleScheduledUpdateReminders() const { return true; }
    // Whether the application comes forward for an update about to be shown: only for
    // one the user asked for, and only when the driver shows it itself.
    bool standardUserDriverWillHandleShowingUpdate(bool handleShowingUpdate,
                                                   bool userInitiated) const {
        return handleShowingUpdate && userInitiated;
    }
};

// The windows and the tray notification of the updater. No window is modal: the tray
// menu works while one is open.
class StandardUserDriver final : public UpdaterUserDriver {
public:
    // `notify` shows a tray notification (title, message).
    StandardUserDriver(UpdaterUserDriverDelegate& delegate,
                       std::function<void(const QString&, const QString&)> notify);
    ~StandardUserDriver() override;

    void showChecking(std::function<void()> cancel) override;
    void hideChecking() override;
    void showUpdateFound(const AvailableUpdate& update,
                         std::function<void(Choice)> answer) override;
    void showScheduledUpdate(const AvailableUpdate& update) override;
    void showUpToDate() override;
    void showCheckFailed(const QString& reason) override;
    void openDownloadPage(const QUrl& url) override;

    void setNotify(std::function<void(const QString&, const QString&)> notify) {
        m_notify = std::move(notify);
    }

private:
    UpdaterUserDriverDelegate& m_delegate;
    std::function<void(const QString&, const QString&)> m_notify;
    QPointer<QDialog> m_checking;
};

// Owns the updater; started from the application delegate's initialiser.
class StandardUpdaterController {
public:
    StandardUpdaterController(UpdaterUserDriverDelegate& userDriverDelegate, UserDefaults& store,
                              QUrl feed = configuredUpdateFeed());
    Updater& updater() { return *m_updater; }
    StandardUserDriver& userDriver() { return m_driver; }

private:
    StandardUserDriver m_driver;
    std::unique_ptr<Updater> m_updater;
};

// Mirrors whether the updater can check now; every "Check for Updates…" control
// follows it.
class CheckForUpdatesViewModel : public QObject {
    Q_OBJECT

public:
    explicit CheckForUpdatesViewModel(Updater& updater, QObject* parent = nullptr);
    bool canCheckForUpdates() const { return m_canCheckForUpdates; }
    bool hasFeed() const { return m_updater.hasFeed(); }
    void checkForUpdates() { m_updater.checkForUpdates(); }
    // The updater's own setting; the model stores nothing.
    bool automaticallyChecksForUpdates() const { return m_updater.automaticallyChecksForUpdates(); }
    void setAutomaticallyChecksForUpdates(bool enabled);

Q_SIGNALS:
    void canCheckForUpdatesChanged(bool canCheck);
    // Announced before the updater's setting changes.
    void automaticallyChecksForUpdatesWillChange();

private:
    Updater& m_updater;
    bool m_canCheckForUpdates = false;
};
