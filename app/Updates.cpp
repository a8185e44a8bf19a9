#include "app/Updates.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

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

// A window of its own that never blocks the tray; in front when it answers the user.
void show(QWidget* window, bool forward) {
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowModality(Qt::NonModal);
    window->setWindowTitle(QApplication::translate("Updates", "Software Update"));
    window->show();
    if (forward) {
        window->raise();
        window->activateWindow();
    }
}

QMessageBox* messageBox(QMessageBox::Icon icon, const QString& text) {
    auto* box = new QMessageBox(icon, QString(), text);
    box->setTextFormat(Qt::PlainText);
    return box;
}
} // namespace

StandardUserDriver::~StandardUserDriver() {
    hideChecking();
}

void StandardUserDriver::showChecking(std::function<void()> cancel) {
    hideChecking();
    QMessageBox* box = messageBox(QMessageBox::Information,
                                  QApplication::translate("Updates", "Checking for updates…"));
    box->setStandardButtons(QMessageBox::Cancel);
    // Any way of closing it ends the check; hideChecking() disconnects first.
    QObject::connect(box, &QDialog::finished, box, [cancel = std::move(cancel)] { cancel(); });
    m_checking = box;
    show(box, true);
}

void StandardUserDriver::hideChecking() {
    if (QDialog* window = m_checking.data()) {
        m_checking.clear();
        QObject::disconnect(window, &QDialog::finished, nullptr, nullptr);
        window->close();
    }
}

void StandardUserDriver::showUpdateFound(const AvailableUpdate& update,
                                         std::function<void(Choice)> answer) {
    auto* window = new QDialog;
    auto* layout = new QVBoxLayout(window);
    auto* title = new QLabel(availableTitle(update));
    title->setTextFormat(Qt::PlainText);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);
    // Release notes are the feed's text, shown as text: never markup, and however long
    // they are the window fits the screen and the notes scroll.
    auto* notes = new QPlainTextEdit(update.notes);
    notes->setReadOnly(true);
    notes->setAccessibleName(QApplication::translate("Updates", "Release Notes"));
    layout->addWidget(notes, 1);
    auto* buttons = new QDialogButtonBox;
    QPushButton* download = buttons->addButton(QApplication::translate("Updates", "Download…"),
                                               QDialogButtonBox::AcceptRole);
    QPushButton* skip = buttons->addButton(QApplication::translate("Updates", "Skip This Version"),
                                           QDialogButtonBox::DestructiveRole);
    QPushButton* later = buttons->addButton(QApplication::translate("Updates", "Remind Me Later"),
                                            QDialogButtonBox::RejectRole);
    download->setDefault(true);
    layout->addWidget(buttons);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QSize room = screen->availableGeometry().size() * 9 / 10;
        window->setMaximumSize(room);
        window->resize(window->sizeHint().boundedTo(room));
    }

    // One answer, whichever way the window goes; closing it is "later".
    auto reply = std::make_shared<std::function<void(Choice)>>(std::move(answer));
    const auto choose = [window, reply](Choice choice) {
        if (auto answerOnce = std::exchange(*reply, nullptr))
            answerOnce(choice);
        window->close();
    };
    QObject::connect(download, &QPushButton::clicked, window,
                     [choose] { choose(Choice::download); });
    QObject::connect(skip, &QPushButton::clicked, window, [choose] { choose(Choice::skip); });
    QObject::connect(later, &QPushButton::clicked, window,
                     [choose] { choose(Choice::remindLater); });
    QObject::connect(window, &QDialog::finished, window, [reply] {
        if (auto answerOnce = std::exchange(*reply, nullptr))
            answerOnce(Choice::remindLater);
    });
    show(window, m_delegate.standardUserDriverWillHandleShowingUpdate(true, true));
}

void StandardUserDriver::showScheduledUpdate(const AvailableUpdate& update) {
    if (m_delegate.supportsGentleScheduledUpdateReminders() && m_notify)
        m_notify(availableTitle(update),
                 QApplication::translate(
                     "Updates", "Choose Check for Updates… in the Daubly menu to get it."));
}

void StandardUserDriver::showUpToDate() {
    QMessageBox* box = messageBox(QMessageBox::Information,
                                  QApplication::translate("Updates", "You're up to date"));
    box->setInformativeText(
        QApplication::translate("Updates", "Daubly %1 is the newest version available.")
            .arg(QStringLiteral(DAUBLY_VERSION)));
    show(box, true);
}

void StandardUserDriver::showCheckFailed(const QString& reason) {
    show(messageBox(QMessageBox::Warning,
                    QApplication::translate("Updates", "The update check failed: %1").arg(reason)),
         true);
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
