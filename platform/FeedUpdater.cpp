#include "platform/FeedUpdater.h"

#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <variant>

const QString FeedUpdater::automaticChecksKey = QStringLiteral("UpdaterAutomaticallyChecks");
const QString FeedUpdater::lastCheckTimeKey = QStringLiteral("UpdaterLastCheckTime");
const QString FeedUpdater::skippedVersionKey = QStringLiteral("UpdaterSkippedVersion");

namespace {

bool isLoopback(const QString& host) {
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

// Qt keeps a reply's unread bytes without bound unless told: the rest waits with the
// server until read, so an oversized feed costs this much at most.
constexpr qint64 readBufferSize = 64 * 1024;

const QString tooLarge = QStringLiteral("the feed is larger than 1 MiB");
const QString tooSlow = QStringLiteral("the feed did not answer in time");

// The feed's document, or why it is not one.
std::variant<AvailableUpdate, QString> parseFeed(const QByteArray& body) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        return QStringLiteral("the feed is not JSON (%1)").arg(error.errorString());
    if (!document.isObject())
        return QStringLiteral("the feed is not a JSON object");
    const QJsonObject object = document.object();
    const QString version = object.value(QLatin1String("version")).toString();
    if (!FeedUpdater::versionNumber(version))
        return QStringLiteral("the feed names no version");
    const QUrl page(object.value(QLatin1String("url")).toString(), QUrl::StrictMode);
    if (!page.isValid() ||
        (page.scheme() != QLatin1String("https") && page.scheme() != QLatin1String("http")))
        return QStringLiteral("the feed names no download page");
    return AvailableUpdate{version, object.value(QLatin1String("notes")).toString(), page};
}

} // namespace

std::optional<QVersionNumber> FeedUpdater::versionNumber(const QString& text) {
    qsizetype suffix = 0;
    const QVersionNumber version = QVersionNumber::fromString(text, &suffix);
    if (version.isNull() || suffix != text.size())
        return std::nullopt;
    // The executable says 1.0 where the package says 1.0.0: the same version.
    return version.normalized();
}

std::optional<QString> FeedUpdater::feedProblem(const QUrl& feed) {
    if (feed.isEmpty())
        return QStringLiteral("no update feed is set");
    if (!feed.isValid())
        return QStringLiteral("the update feed address is not valid");
    if (feed.scheme() == QLatin1String("https"))
        return std::nullopt;
    if (feed.scheme() == QLatin1String("http") && isLoopback(feed.host()))
        return std::nullopt;
    return QStringLiteral("the update feed must be an https:// address");
}

FeedUpdater::FeedUpdater(Config config, QObject* parent)
    : Updater(parent)
    , m_config(std::move(config))
    , m_usable(false)
    , m_network(new QNetworkAccessManager(this)) {
    if (const auto problem = feedProblem(m_config.feed)) {
        // An empty feed is the normal case of a build without updates: said once, quietly.
        if (!m_config.feed.isEmpty())
            m_logger.error("Updates are off: %{public}s", *problem);
    } else {
        m_usable = true;
    }
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &FeedUpdater::checkInBackground);
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] { stop(tooSlow); });
    // A check must not outlive the tray behind a window about a failure nobody caused.
    if (QCoreApplication* application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &FeedUpdater::cancelCheck);
    schedule();
}

FeedUpdater::~FeedUpdater() {
    cancelCheck();
}

bool FeedUpdater::canCheckForUpdates() const {
    return m_usable && !isChecking();
}

bool FeedUpdater::automaticallyChecksForUpdates() const {
    return m_usable && m_config.store.boolValue(automaticChecksKey);
}

void FeedUpdater::setAutomaticallyChecksForUpdates(bool enabled) {
    if (!m_usable)
        return;
    m_config.store.setValue(automaticChecksKey, enabled);
    schedule();
}

std::optional<QDateTime> FeedUpdater::nextScheduledCheck() const {
    if (!automaticallyChecksForUpdates())
        return std::nullopt;
    const QDateTime now = m_config.now();
    const QDateTime last = QDateTime::fromString(
        m_config.store.stringValue(lastCheckTimeKey).value_or(QString()), Qt::ISODate);
    const QDateTime earliest = now.addMSecs(m_config.firstCheckDelay.count());
    if (!last.isValid())
        return earliest;
    const QDateTime due = last.addMSecs(checkInterval.count());
    return due > earliest ? due : earliest;
}

void FeedUpdater::schedule() {
    const auto next = nextScheduledCheck();
    if (!next) {
        m_timer.stop();
        return;
    }
    m_timer.start(std::chrono::milliseconds(std::max<qint64>(0, m_config.now().msecsTo(*next))));
}

void FeedUpdater::checkForUpdates() {
    check(true);
}

void FeedUpdater::checkInBackground() {
    check(false);
}

void FeedUpdater::setChecking(QNetworkReply* reply) {
    const bool could = canCheckForUpdates();
    m_reply = reply;
    if (could != canCheckForUpdates())
        Q_EMIT canCheckForUpdatesChanged(canCheckForUpdates());
}

void FeedUpdater::check(bool userInitiated) {
    if (!canCheckForUpdates())
        return;
    QNetworkRequest request(m_config.feed);
    // Each hop is checked against the feed's own rule: https, or http on this machine.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    QNetworkReply* reply = m_network->get(request);
    reply->setReadBufferSize(readBufferSize);
    m_userInitiated = userInitiated;
    m_body.clear();
    m_stopReason.clear();
    setChecking(reply);
    m_deadline.start(m_config.timeout);
    connect(reply, &QNetworkReply::redirected, this, [this, reply](const QUrl& to) {
        if (feedProblem(to))
            stop(QStringLiteral("the feed moved to %1, which is not an https:// address")
                     .arg(to.toDisplayString()));
        else
            Q_EMIT reply->redirectAllowed();
    });
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        if (reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > maximumFeedSize)
            stop(tooLarge);
    });
    connect(reply, &QNetworkReply::readyRead, this, &FeedUpdater::received);
    connect(reply, &QNetworkReply::finished, this, &FeedUpdater::finished);
    if (userInitiated)
        m_config.driver.showChecking([this] { cancelCheck(); });
}

void FeedUpdater::received() {
    if (!m_reply)
        return;
    m_body += m_reply->read(maximumFeedSize + 1 - m_body.size());
    if (m_body.size() > maximumFeedSize)
        stop(tooLarge);
}

void FeedUpdater::stop(const QString& reason) {
    if (!m_reply)
        return;
    m_stopReason = reason;
    // Closes the connection; finished() follows.
    m_reply->abort();
}

void FeedUpdater::cancelCheck() {
    QNetworkReply* reply = m_reply;
    if (!reply)
        return;
    m_deadline.stop();
    disconnect(reply, nullptr, this, nullptr);
    reply->abort();
    reply->deleteLater();
    m_body = QByteArray();
    setChecking(nullptr);
    if (m_userInitiated)
        m_config.driver.hideChecking();
    m_logger.log("Update check cancelled");
}

void FeedUpdater::finished() {
    QNetworkReply* reply = m_reply;
    if (!reply)
        return;
    m_deadline.stop();
    disconnect(reply, nullptr, this, nullptr);
    reply->deleteLater();
    if (m_stopReason.isEmpty())
        m_body += reply->read(maximumFeedSize + 1 - m_body.size());
    const QByteArray body = std::exchange(m_body, QByteArray());
    const QString stopReason = std::exchange(m_stopReason, QString());
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QNetworkReply::NetworkError error = reply->error();
    const QString errorText = reply->errorString();
    setChecking(nullptr);
    if (m_userInitiated)
        m_config.driver.hideChecking();
    m_config.store.setValue(lastCheckTimeKey, m_config.now().toString(Qt::ISODate));
    schedule();

    if (!stopReason.isEmpty())
        return failed(stopReason);
    if (body.size() > maximumFeedSize)
        return failed(tooLarge);
    if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError)
        return failed(tooSlow);
    if (status >= 400)
        return failed(QStringLiteral("the feed answered HTTP %1").arg(status));
    if (error != QNetworkReply::NoError)
        return failed(errorText);

    const auto parsed = parseFeed(body);
    if (const auto* problem = std::get_if<QString>(&parsed))
        return failed(*problem);
    const AvailableUpdate update = std::get<AvailableUpdate>(parsed);
    const auto offered = versionNumber(update.version);
    const auto current = versionNumber(m_config.currentVersion).value_or(QVersionNumber());
    const bool newer = QVersionNumber::compare(*offered, current) > 0;
    const bool skipped =
        versionNumber(m_config.store.stringValue(skippedVersionKey).value_or(QString())) == offered;
    m_logger.log("Update check: the feed offers %{public}s, this is %{public}s", update.version,
                 m_config.currentVersion);

    if (!m_userInitiated) {
        // A scheduled check never opens a window, and a skipped version stays quiet.
        if (newer && !skipped)
            m_config.driver.showScheduledUpdate(update);
        return;
    }
    if (!newer) {
        m_config.driver.showUpToDate();
        return;
    }
    m_config.driver.showUpdateFound(
        update, [self = QPointer<FeedUpdater>(this), update](UpdaterUserDriver::Choice choice) {
            if (self)
                self->answered(update, choice);
        });
}

void FeedUpdater::answered(const AvailableUpdate& update, UpdaterUserDriver::Choice choice) {
    switch (choice) {
    case UpdaterUserDriver::Choice::download:
        m_config.driver.openDownloadPage(update.downloadPage);
        break;
    case UpdaterUserDriver::Choice::skip:
        m_config.store.setValue(skippedVersionKey, update.version);
        break;
    case UpdaterUserDriver::Choice::remindLater:
        break;
    }
}

void FeedUpdater::failed(const QString& reason) {
    m_logger.error("The update check failed: %{public}s", reason);
    if (m_userInitiated)
        m_config.driver.showCheckFailed(reason);
}
