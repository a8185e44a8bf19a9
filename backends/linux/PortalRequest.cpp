#include "backends/linux/PortalRequest.h"

#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QRandomGenerator>

namespace {

constexpr auto requestInterface = "org.freedesktop.portal.Request";

// How long a late answer is still awaited after the deadline, so that its file can be
// cleaned up; a portal that has not answered by then never will.
constexpr std::chrono::minutes lateAnswerWait{10};

} // namespace

QString PortalRequest::requestPath(const QDBusConnection& bus, const QString& token) {
    // ":1.42" becomes "1_42".
    QString sender = bus.baseService();
    if (sender.startsWith(u':'))
        sender.remove(0, 1);
    sender.replace(u'.', u'_');
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

QString PortalRequest::newToken() {
    static std::uint32_t counter = 0;
    return QStringLiteral("daubly%1_%2").arg(++counter).arg(QRandomGenerator::global()->generate());
}

PortalRequest::PortalRequest(const QDBusConnection& bus, QObject* context, Completion completion,
                             Completion lateAnswer)
    : QObject(context)
    , m_bus(bus)
    , m_completion(std::move(completion))
    , m_lateAnswer(std::move(lateAnswer)) {
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &PortalRequest::timedOut);
}

void PortalRequest::start(const QDBusConnection& bus, QDBusMessage call, int optionsIndex,
                          std::chrono::milliseconds timeout, QObject* context,
                          Completion completion, Completion lateAnswer) {
    auto* request = new PortalRequest(bus, context, std::move(completion), std::move(lateAnswer));
    const auto failSoon = [request](const QString& error) {
        // Never from inside start(): the caller may not be ready for its completion yet.
        QTimer::singleShot(0, request, [request, error] { request->finish({{}, {}, error}); });
    };
    if (!bus.isConnected()) {
        failSoon(QStringLiteral("there is no session bus"));
        return;
    }
    const QString token = newToken();
    if (!request->subscribe(requestPath(bus, token))) {
        failSoon(QStringLiteral("could not listen for the portal's answer: %1")
                     .arg(bus.lastError().message()));
        return;
    }
    QList<QVariant> arguments = call.arguments();
    QVariantMap options = arguments.value(optionsIndex).toMap();
    options.insert(QStringLiteral("handle_token"), token);
    arguments[optionsIndex] = options;
    call.setArguments(arguments);

    request->m_deadline.start(timeout);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), request);
    connect(watcher, &QDBusPendingCallWatcher::finished, request, [request, watcher] {
        watcher->deleteLater();
        if (request->m_finished)
            return;
        const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
        if (reply.isError()) {
            request->finish({{}, {}, reply.error().message()});
            return;
        }
        // A portal older than the handle_token option makes up a path of its own.
        const QString path = reply.value().path();
        if (!request->m_paths.contains(path) && !request->subscribe(path))
            request->finish({{},
                             {},
                             QStringLiteral("could not listen for the portal's answer: %1")
                                 .arg(request->m_bus.lastError().message())});
    });
}

bool PortalRequest::subscribe(const QString& path) {
    // Matched on the portal's name, so no other client can answer in its place.
    if (!m_bus.connect(QString::fromLatin1(serviceName), path,
                       QString::fromLatin1(requestInterface), QStringLiteral("Response"), this,
                       SLOT(onResponse(uint, QVariantMap))))
        return false;
    m_paths.append(path);
    return true;
}

void PortalRequest::onResponse(uint response, const QVariantMap& results) {
    finish({response, results, {}});
}

void PortalRequest::timedOut() {
    if (m_completed)
        return;
    // Asks the portal to drop the request (and close any dialog of it).
    for (const QString& path : std::as_const(m_paths))
        m_bus.asyncCall(QDBusMessage::createMethodCall(QString::fromLatin1(serviceName), path,
                                                       QString::fromLatin1(requestInterface),
                                                       QStringLiteral("Close")));
    m_completed = true;
    const Completion completion = std::exchange(m_completion, {});
    if (completion)
        completion({{}, {}, QStringLiteral("the desktop did not answer in time"), true});
    if (!m_lateAnswer) {
        deleteLater();
        return;
    }
    QTimer::singleShot(lateAnswerWait, this, [this] {
        m_lateAnswer = {};
        finish({});
    });
}

void PortalRequest::finish(const PortalAnswer& answer) {
    if (m_finished)
        return;
    m_finished = true;
    for (const QString& path : std::as_const(m_paths))
        m_bus.disconnect(QString::fromLatin1(serviceName), path,
                         QString::fromLatin1(requestInterface), QStringLiteral("Response"), this,
                         SLOT(onResponse(uint, QVariantMap)));
    m_paths.clear();
    m_deadline.stop();
    const Completion completion =
        m_completed ? std::exchange(m_lateAnswer, {}) : std::exchange(m_completion, {});
    m_completed = true;
    m_lateAnswer = {};
    deleteLater();
    if (completion)
        completion(answer);
}
