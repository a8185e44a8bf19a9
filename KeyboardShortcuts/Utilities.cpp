#include "KeyboardShortcuts/Utilities.h"

#include "platform/Logger.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QThread>

namespace KeyboardShortcuts {

const Logger& logger() {
    static const Logger instance("KeyboardShortcuts");
    return instance;
}

bool isMainThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

LocalEventMonitor::LocalEventMonitor(std::function<bool(QKeyEvent&)> callback, QObject* parent)
    : QObject(parent)
    , m_callback(std::move(callback)) {}

LocalEventMonitor::~LocalEventMonitor() {
    stop();
}

void LocalEventMonitor::start() {
    if (m_started || !QCoreApplication::instance())
        return;
    QCoreApplication::instance()->installEventFilter(this);
    m_started = true;
}

void LocalEventMonitor::stop() {
    if (!m_started)
        return;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
    m_started = false;
}

bool LocalEventMonitor::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        // Qt sends the same event again to each parent while nobody accepts it; looking
        // at it once, at the first receiver, is enough.
        auto& keyEvent = static_cast<QKeyEvent&>(*event);
        if (m_callback(keyEvent))
            return true;
    }
    return QObject::eventFilter(watched, event);
}

MenuTrackingMonitor::MenuTrackingMonitor(std::function<void(bool)> onChange, QObject* parent)
    : QObject(parent)
    , m_onChange(std::move(onChange)) {
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installEventFilter(this);
}

MenuTrackingMonitor::~MenuTrackingMonitor() {
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
}

bool MenuTrackingMonitor::eventFilter(QObject* watched, QEvent* event) {
    if ((event->type() == QEvent::Show || event->type() == QEvent::Hide) &&
        qobject_cast<QMenu*>(watched)) {
        if (event->type() == QEvent::Show) {
            const bool wasOpen = isMenuOpen();
            if (m_openMenus.insert(watched).second) {
                // A menu destroyed while showing may never send its Hide.
                connect(watched, &QObject::destroyed, this,
                        [this](QObject* menu) { menuClosed(menu); });
            }
            if (!wasOpen)
                m_onChange(true);
        } else {
            menuClosed(watched);
        }
    }
    return QObject::eventFilter(watched, event);
}

void MenuTrackingMonitor::menuClosed(QObject* menu) {
    if (m_openMenus.erase(menu) == 0)
        return;
    disconnect(menu, &QObject::destroyed, this, nullptr);
    if (m_openMenus.empty())
        m_onChange(false);
}

} // namespace KeyboardShortcuts
