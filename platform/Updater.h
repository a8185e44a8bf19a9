#pragma once

// Software updates: whether a check is possible now, the automatic daily check, and a
// check the user starts. The updater keeps its own settings. InertUpdater is the one a
// build without a feed has: it can never check and never checks by itself.

#include <QObject>

class Updater : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Whether this build can check at all (it has a usable feed).
    virtual bool hasFeed() const = 0;
    virtual bool canCheckForUpdates() const = 0;
    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual void setAutomaticallyChecksForUpdates(bool enabled) = 0;
    // A check the user asked for: its outcome is always shown.
    virtual void checkForUpdates() = 0;
    // Ends a running check without showing anything (the application quits).
    virtual void cancelCheck() = 0;

Q_SIGNALS:
    void canCheckForUpdatesChanged(bool canCheck);
};

class InertUpdater final : public Updater {
public:
    using Updater::Updater;
    bool hasFeed() const override { return false; }
    bool canCheckForUpdates() const override { return false; }
    bool automaticallyChecksForUpdates() const override { return false; }
    void setAutomaticallyChecksForUpdates(bool) override {}
    void checkForUpdates() override {}
    void cancelCheck() override {}
};
