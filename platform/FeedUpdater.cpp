#include "platform/FeedUpdater.h"

#include "platform/UserDefaults.h"

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

std::optional<QVersionNumber> versionNumber(const QString& text) {
    qsizetype suffix = 0;
    const QVersionNumber version = QVersionNumber::fromString(text, &suffix);
    if (version.isNull() || suffix != text.size())
        return std::nullopt;
    return version;
}

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
    if (!versionNumber(version))
        return QStringLiteral("the feed names no version");
    const QUrl page(object.value(QLatin1String("url")).toString(), QUrl::StrictMode);
    if (!page.isValid() ||
        (page.scheme() != QLatin1String("https") && page.scheme() != QLatin1String("http")))
        return QStringLiteral("the feed names no download page");
    return AvailableUpdate{version, object.value(QLatin1String("notes")).toString(), page};
}

} // namespace

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
    schedule();
}

FeedUpdater::~FeedUpdater() {
    if (m_reply)
        m_reply->abort();
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
    request.setTransferTimeout(int(m_config.timeout.count()));
    // A redirect must not lead from https to anything less.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = m_network->get(request);
    setChecking(reply);
    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64 total) {
        if (received > maximumFeedSize || total > maximumFeedSize) {
            reply->setProperty("tooLarge", true);
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this,
            [this, userInitiated] { finished(userInitiated); });
}

void FeedUpdater::finished(bool userInitiated) {
    QNetworkReply* reply = m_reply;
    if (!reply)
        return;
    reply->deleteLater();
    const QByteArray body = reply->readAll();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool tooLarge = reply->property("tooLarge").toBool() || body.size() > maximumFeedSize;
    const QNetworkReply::NetworkError error = reply->error();
    const QString errorText = reply->errorString();
    setChecking(nullptr);
    m_config.store.setValue(lastCheckTimeKey, m_config.now().toString(Qt::ISODate));
    schedule();

    if (tooLarge)
        return failed(userInitiated, QStringLiteral("the feed is larger than 1 MiB"));
    if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError)
        return failed(userInitiated, QStringLiteral("the feed did not answer in time"));
    if (status >= 400)
        return failed(userInitiated, QStringLiteral("the feed answered HTTP %1").arg(status));
    if (error != QNetworkReply::NoError)
        return failed(userInitiated, errorText);

    const auto parsed = parseFeed(body);
    if (const auto* problem = std::get_if<QString>(&parsed))
        return failed(userInitiated, *problem);
    const AvailableUpdate update = std::get<AvailableUpdate>(parsed);
    const auto current = versionNumber(m_config.currentVersion).value_or(QVersionNumber());
    const bool newer = QVersionNumber::compare(*versionNumber(update.version), current) > 0;
    const bool skipped = m_config.store.stringValue(skippedVersionKey) == update.version;
    m_logger.log("Update check: the feed offers %{public}s, this is %{public}s", update.version,
                 m_config.currentVersion);

    if (!userInitiated) {
        // A scheduled check never opens a window, and a skipped version stays quiet.
        if (newer && !skipped)
            m_config.driver.showScheduledUpdate(update);
        return;
    }
    if (!newer) {
        m_config.driver.showUpToDate();
        return;
    }
    switch (m_config.driver.showUpdateFound(update)) {
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

void FeedUpdater::failed(bool userInitiated, const QString& reason) {
    m_logger.error("The update check failed: %{public}s", reason);
    if (userInitiated)
        m_config.driver.showCheckFailed(reason);
}
