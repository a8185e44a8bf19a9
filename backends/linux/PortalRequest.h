#pragma once

// One call of a desktop portal method that answers later, through the Response signal of
// a Request object. The request's path follows from our unique bus name and the
// handle_token we choose, so the signal is subscribed before the call goes out and a
// quick answer cannot slip past.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

struct PortalAnswer {
    // 0 done, 1 cancelled by the user, 2 failed otherwise; none when no answer came.
    std::optional<std::uint32_t> response;
    QVariantMap results;
    // Why no answer came: the call failed or the deadline passed.
    QString error;
    // The deadline passed: the portal may still be showing its dialog.
    bool timedOut = false;
};

class PortalRequest : public QObject {
    Q_OBJECT

public:
    static constexpr auto serviceName = "org.freedesktop.portal.Desktop";
    static constexpr auto objectPath = "/org/freedesktop/portal/desktop";

    using Completion = std::function<void(const PortalAnswer&)>;

    // Sends `call` with a fresh handle_token added to its a{sv} argument at
    // `optionsIndex`. `completion` runs exactly once, on the main thread, never from
    // inside start(), unless `context` is destroyed first. An answer that comes after the
    // deadline goes to `lateAnswer` (if set): the portal may still have done the work.
    static void start(const QDBusConnection& bus, QDBusMessage call, int optionsIndex,
                      std::chrono::milliseconds timeout, QObject* context, Completion completion,
                      Completion lateAnswer = {});

    // The path of the Request object the portal makes for `token`.
    static QString requestPath(const QDBusConnection& bus, const QString& token);
    // A token that no other request of this process uses.
    static QString newToken();

private Q_SLOTS:
    void onResponse(uint response, const QVariantMap& results);

private:
    PortalRequest(const QDBusConnection& bus, QObject* context, Completion completion,
                  Completion lateAnswer);
    bool subscribe(const QString& path);
    void finish(const PortalAnswer& answer);
    void timedOut();

    QDBusConnection m_bus;
    QStringList m_paths;
    Completion m_completion;
    Completion m_lateAnswer;
    QTimer m_deadline;
    bool m_completed = false; // the completion has run
    bool m_finished = false;  // nothing more is awaited
};
