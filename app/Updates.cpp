#include "app/Updates.h"

StandardUpdaterController::StandardUpdaterController(UpdaterUserDriverDelegate&)
    : m_updater(std::make_unique<InertUpdater>()) {}

CheckForUpdatesViewModel::CheckForUpdatesViewModel(Updater& updater, QObject* parent)
    : QObject(parent)
    , m_updater(updater)
    , m_canCheckForUpdates(updater.canCheckForUpdates()) {}

void CheckForUpdatesViewModel::refresh() {
    const bool canCheck = m_updater.canCheckForUpdates();
    if (canCheck == m_canCheckForUpdates)
        return;
    m_canCheckForUpdates = canCheck;
    Q_EMIT canCheckForUpdatesChanged(canCheck);
}

void CheckForUpdatesViewModel::setAutomaticallyChecksForUpdates(bool enabled) {
    Q_EMIT automaticallyChecksForUpdatesWillChange();
    m_updater.setAutomaticallyChecksForUpdates(enabled);
}
