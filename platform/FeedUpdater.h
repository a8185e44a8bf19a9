#pragma once

// Our own update checker: it reads a small JSON feed and tells the user about a newer
// version; it never installs anything.
//
//   {"version": "1.2", "notes": "What changed.", "url": "https://daubly.app/download"}
//
// Only https:// feeds are read, or http:// on the loopback interface (for tests), and a
// redirect is followed only to an address that passes the same rule. A body over 1 MiB
// (the connection is closed as soon as it is), a bad document, a check that has not
// ended by its deadline or an HTTP error fails the check: it is logged, a check the
// user started says so, and nothing else changes. While a check runs, no other can
// start; quitting ends it silently. The automatic check runs once a day while it is on.
// Versions compare as numbers with trailing zeros dropped: 1.0 is 1.0.0.

#include "platform/Logger.h"
#include "platform/Updater.h"

#include <QDateTime>
#include <QNetworkReply>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QVersionNumber>
#include <chrono>
#include <functional>
#include <optional>

class QNetworkAccessManager;

class UserDefaults;

struct AvailableUpdate {
    QString version;
    QString notes;
    QUrl downloadPage;
};

// Shows what a check found; the application's windows and tray implement it.
class UpdaterUserDriver {
public:
    enum class Choice { download, skip, remindLater };

    virtual ~UpdaterUserDriver() = default;
    // While a check the user started runs; `cancel` ends it without a word.
    virtual void showChecking(std::function<void()> cancel) = 0;
    // The check has ended, before its outcome (if any) is shown.
    virtual void hideChecking() = 0;
    // A newer version found by a check the user started. Returns at once (the tray stays
    // live); `answer` gets the user's choice later, remindLater when the window is closed.
    virtual void showUpdateFound(const AvailableUpdate& update,
                                 std::function<void(Choice)> answer) = 0;
    // Found by a scheduled check: a gentle reminder, never a window.
    virtual void showScheduledUpdate(const AvailableUpdate& update) = 0;
    virtual void showUpToDate() = 0;
    virtual void showCheckFailed(const QString& reason) = 0;
    virtual void openDownloadPage(const QUrl& url) = 0;
};

class FeedUpdater final : public Updater {
    Q_OBJECT

public:
    static constexpr qint64 maximumFeedSize = 1024 * 1024;
    static constexpr std::chrono::milliseconds checkInterval = std::chrono::hours(24);

    struct Config {
        QUrl feed;
        QString currentVersion;
        UserDefaults& store;
        UpdaterUserDriver& driver;
        // The whole check, however the server paces its bytes.
        std::chrono::milliseconds timeout{30000};
        // A scheduled check waits this long after start-up at least.
        std::chrono::milliseconds firstCheckDelay{60000};
        std::function<QDateTime()> now = [] { return QDateTime::currentDateTimeUtc(); };
    };

    // Keys of the updater's own settings.
    static const QString automaticChecksKey;
    static const QString lastCheckTimeKey;
    static const QString skippedVersionKey;

    // Why a feed address cannot be used; none when it can.
    static std::optional<QString> feedProblem(const QUrl& feed);
    // A version as compared: none when `text` is not one.
    static std::optional<QVersionNumber> versionNumber(const QString& text);

    explicit FeedUpdater(Config config, QObject* parent = nullptr);
    ~FeedUpdater() override;

    bool hasFeed() const override { return m_usable; }
    bool canCheckForUpdates() const override;
    bool automaticallyChecksForUpdates() const override;
    void setAutomaticallyChecksForUpdates(bool enabled) override;
    void checkForUpdates() override;
    void cancelCheck() override;
    // What the daily timer runs.
    void checkInBackground();

    bool isChecking() const { return m_reply != nullptr; }
    // When the next scheduled check is due; none while automatic checks are off.
    std::optional<QDateTime> nextScheduledCheck() const;

private:
    void check(bool userInitiated);
    void received();
    // Ends the running check as failed for `reason`.
    void stop(const QString& reason);
    void finished();
    void failed(const QString& reason);
    void answered(const AvailableUpdate& update, UpdaterUserDriver::Choice choice);
    void setChecking(QNetworkReply* reply);
    void schedule();

    Config m_config;
    bool m_usable;
    QNetworkAccessManager* m_network;
    QPointer<QNetworkReply> m_reply;
    bool m_userInitiated = false;
    QByteArray m_body;
    QString m_stopReason;
    QTimer m_deadline;
    QTimer m_timer;
    Logger m_logger{"Updates"};
};
