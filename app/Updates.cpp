#include "app/Updates.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>

QUrl configuredUpdateFeed() {
    const QString fromEnvironment = qEnvironmentVariable("DAUBLY_UPDATE_FEED_URL");
    return QUrl(fromEnvironment.isEmpty() ? QStringLiteral(DAUBLY_UPDATE_FEED_URL)
                                          : fromEnvironment);
}

StandardUserDriver::StandardUserDriver(UpdaterUserDriverDelegate& delegate,
                                       std::function<void(const QString&, const QString&)> notify)
    : m_delegate(delegate)
    , m_notify(std::move(notify)) {}

namespace {
QString availableTitle(const AvailableUpdate& update) {
    return QApplication::translate("Updates", "Daubly %1 is available").arg(update.version);
}

// A message box of its own, in front: it is the answer to the user's request.
int showForward(QMessageBox& box) {
    box.setWindowTitle(QApplication::translate("Updates", "Software Update"));
    box.show();
    box.raise();
    box.activateWindow();
    return box.exec();
}
} // namespace

UpdaterUserDriver::Choice StandardUserDriver::showUpdateFound(const AvailableUpdate& update) {
    QMessageBox box;
    box.setIcon(QMessageBox::Information);
    box.setText(availableTitle(update));
    box.setInformativeText(update.notes);
    QPushButton* download =
        box.addButton(QApplication::translate("Updates", "Download…"), QMessageBox::AcceptRole);
    QPushButton* skip = box.addButton(QApplication::translate("Updates", "Skip This Version"),
                                      QMessageBox::DestructiveRole);
    QPushButton* later = box.addButton(QApplication::translate("Updates", "Remind Me Later"),
                                       QMessageBox::RejectRole);
    box.setDefaultButton(download);
    box.setEscapeButton(later);
    if (m_delegate.standardUserDriverWillHandleShowingUpdate(true, true))
        showForward(box);
    else
        box.exec();
    if (box.clickedButton() == download)
        return Choice::download;
    if (box.clickedButton() == skip)
        return Choice::skip;
    return Choice::remindLater;
}

void StandardUserDriver::showScheduledUpdate(const AvailableUpdate& update) {
    if (m_delegate.supportsGentleScheduledUpdateReminders() && m_notify)
        m_notify(availableTitle(update),
                 QApplication::translate(
                     "Updates", "Choose Check for Updates… in the Daubly menu to get it."));
}

void StandardUserDriver::showUpToDate() {
    QMessageBox box;
    box.setIcon(QMessageBox::Information);
    box.setText(QApplication::translate("Updates", "You're up to date"));
    box.setInformativeText(
        QApplication::translate("Updates", "Daubly %1 is the newest version available.")
            .arg(QStringLiteral(DAUBLY_VERSION)));
    showForward(box);
}

void StandardUserDriver::showCheckFailed(const QString& reason) {
    QMessageBox box;
    box.setIcon(QMessageBox::Warning);
    box.setText(QApplication::translate("Updates", "The update check failed: %1").arg(reason));
    showForward(box);
}

void StandardUserDriver::openDownloadPage(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

StandardUpdaterController::StandardUpdaterController(UpdaterUserDriverDelegate& userDriverDelegate,
                                                     UserDefaults& store, QUrl feed)
    : m_driver(userDriverDelegate, {}) {
    if (feed.isEmpty())
        m_updater = std::make_unique<InertUpdater>();
    else
        m_updater = std::make_unique<FeedUpdater>(
            FeedUpdater::Config{std::move(feed), QStringLiteral(DAUBLY_VERSION), store, m_driver});
}

CheckForUpdatesViewModel::CheckForUpdatesViewModel(Updater& updater, QObject* parent)
    : QObject(parent)
    , m_updater(updater) {
    // The updater's value now and every later one.
    const auto mirror = [this](bool canCheck) {
        if (canCheck == m_canCheckForUpdates)
            return;
        m_canCheckForUpdates = canCheck;
        Q_EMIT canCheckForUpdatesChanged(canCheck);
    };
    mirror(updater.canCheckForUpdates());
    connect(&updater, &Updater::canCheckForUpdatesChanged, this, mirror);
}

void CheckForUpdatesViewModel::setAutomaticallyChecksForUpdates(bool enabled) {
    Q_EMIT automaticallyChecksForUpdatesWillChange();
    m_updater.setAutomaticallyChecksForUpdates(enabled);
}
