#pragma once

// Software updates. The update machinery is an optional plugin; without one the
// updater is inert: it cannot check and automatic checks are off.

#include <QObject>
#include <memory>

class Updater {
public:
    virtual ~Updater() = default;
    virtual bool canCheckForUpdates() const = 0;
    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual void setAutomaticallyChecksForUpdates(bool enabled) = 0;
    virtual void checkForUpdates() = 0;
};

class InertUpdater final : public Updater {
public:
    bool canCheckForUpdates() const override { return false; }
    bool automaticallyChecksForUpdates() const override { return false; }
    void setAutomaticallyChecksForUpdates(bool) override {}
    void checkForUpdates() override {}
};

// Receives the update user interface's callbacks; nothing to do without a plugin.
class UpdaterUserDriverDelegate {};

// Owns the updater; started from the application delegate's initialiser.
class StandardUpdaterController {
public:
    explicit StandardUpdaterController(UpdaterUserDriverDelegate& userDriverDelegate);
    Updater& updater() { return *m_updater; }

private:
    std::unique_ptr<Updater> m_updater;
};

// Mirrors whether the updater can check now; every "Check for Updates…" control
// follows it.
class CheckForUpdatesViewModel : public QObject {
    Q_OBJECT

public:
    explicit CheckForUpdatesViewModel(Updater& updater, QObject* parent = nullptr);
    bool canCheckForUpdates() const { return m_canCheckForUpdates; }
    void checkForUpdates() { m_updater.checkForUpdates(); }
    // The updater's own setting; the model stores nothing.
    bool automaticallyChecksForUpdates() const { return m_updater.automaticallyChecksForUpdates(); }
    void setAutomaticallyChecksForUpdates(bool enabled);
    // Re-reads the updater; notifies only on a change.
    void refresh();

Q_SIGNALS:
    void canCheckForUpdatesChanged(bool canCheck);
    // Announced before the updater's setting changes.
    void automaticallyChecksForUpdatesWillChange();

private:
    Updater& m_updater;
    bool m_canCheckForUpdates;
};
