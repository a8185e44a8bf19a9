#pragma once

// Helpers of the global shortcuts: their log, the main-thread check, and application-wide
// event monitors (key events seen before any widget gets them, and the opening and
// closing of the application's menus).

#include <QObject>
#include <QPointer>
#include <functional>
#include <set>

class QKeyEvent;
class QMenu;

class Logger;

namespace KeyboardShortcuts {

// The log of the global shortcuts.
const Logger& logger();

// Whether the caller runs on the application's thread, where all shortcut state lives
// (true before the application object exists).
bool isMainThread();

// Sees every key press and release of the application while started; the callback
// answers true to swallow the event.
class LocalEventMonitor final : public QObject {
public:
    explicit LocalEventMonitor(std::function<bool(QKeyEvent&)> callback, QObject* parent = nullptr);
    ~LocalEventMonitor() override;

    // Starting twice installs once.
    void start();
    void stop();
    bool isStarted() const { return m_started; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<bool(QKeyEvent&)> m_callback;
    bool m_started = false;
};

// Reports whether any menu of the application is showing: `onChange(true)` when the
// first one opens, `onChange(false)` when the last one closes. Submenus count as part
// of the menu they open from.
class MenuTrackingMonitor final : public QObject {
public:
    explicit MenuTrackingMonitor(std::function<void(bool isOpen)> onChange,
                                 QObject* parent = nullptr);
    ~MenuTrackingMonitor() override;

    bool isMenuOpen() const { return !m_openMenus.empty(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void menuClosed(QObject* menu);

    std::function<void(bool)> m_onChange;
    std::set<QObject*> m_openMenus;
};

} // namespace KeyboardShortcuts
