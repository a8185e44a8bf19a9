#pragma once

// "The application became active": one of its windows got the focus. Views and models
// that mirror something the user may change outside Daubly (a permission, the
// autostart entry) refresh on it, so that coming back shows the change at once.

#include <QObject>

class ApplicationActivation : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // The application's, fed by Qt's application state (main thread).
    static ApplicationActivation& shared();

    // Announces an activation; the shared instance calls it, tests call it on theirs.
    void notifyDidBecomeActive() { Q_EMIT didBecomeActive(); }

Q_SIGNALS:
    void didBecomeActive();
};
