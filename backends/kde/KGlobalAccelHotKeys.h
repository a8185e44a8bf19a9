#pragma once

// Global shortcuts on KDE Plasma through kglobalaccel (org.kde.kglobalaccel), the service
// behind Plasma's own shortcut settings. Each registration is an action of the component
// "app.daubly.Daubly", named after the request's description ("activatePicker"), with the
// stored shortcut as its default: it is listed in Plasma's settings, where the user may
// change it, and Plasma's conflict rules decide whether the keys are ours. A key that
// another action holds is a failed registration. Presses and releases arrive as the
// component's globalShortcutPressed/Released signals; a change made in Plasma's settings
// arrives as a `rebound` event.
//
// kglobalaccel names keys as Qt does (a Qt::Key with Qt modifier bits); the stored form is
// converted with the platform's key and modifier tables, in the current keyboard layout.

#include "backends/linux/NamedHotKeys.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class KeyboardLayout;

class KGlobalAccelHotKeys final : public QObject, public NamedHotKeys {
    Q_OBJECT

public:
    static constexpr auto componentName = "app.daubly.Daubly";

    // On the session bus; null (and one log line) when there is none.
    static std::unique_ptr<KGlobalAccelHotKeys> create(const KeyboardLayout& layout);

    KGlobalAccelHotKeys(QDBusConnection bus, const KeyboardLayout& layout);
    // Our actions go inactive: Plasma keeps them listed but stops sending their keys.
    ~KGlobalAccelHotKeys() override;

    Registration registerHotKey(const Request& request) override;
    bool isAvailable() const override;
    // Asks kglobalaccel whether another component holds the keys.
    std::optional<bool> isTriggerTaken(const Trigger& trigger) override;

    // kglobalaccel's number for a trigger (Qt key | Qt modifiers); none for keys Qt has
    // no code for in `layout` (keypad keys, a key that gives no character).
    static std::optional<int> keyCode(const Trigger& trigger, const KeyboardLayout& layout);
    // The trigger of such a number; none when no key of the layout gives it.
    static std::optional<Trigger> trigger(int keyCode, const KeyboardLayout& layout);

private Q_SLOTS:
    void onPressed(const QString& component, const QString& action, qlonglong timestamp);
    void onReleased(const QString& component, const QString& action, qlonglong timestamp);
    // yourShortcutsChanged(as actionId, a(ai) keys): each key sequence as up to four keys.
    void onShortcutsChanged(const QDBusMessage& message);

private:
    // What kglobalaccel bound for an action in this run.
    struct Binding {
        Trigger requested;
        std::optional<Trigger> bound;
    };

    QStringList actionId(const QString& action) const;
    QDBusMessage call(const QString& method, const QList<QVariant>& arguments) const;
    bool listenToComponent(QString* error);

    QDBusConnection m_bus;
    const KeyboardLayout& m_layout;
    std::map<QString, Binding> m_bindings;
    bool m_listening = false;
};
