#pragma once

// Global shortcuts through the desktop's portal (org.freedesktop.portal.GlobalShortcuts),
// for Wayland desktops, where no client may grab keys itself. One portal session holds
// every registration; each is bound under its description ("activatePicker") with the
// stored shortcut as the preferred trigger. The desktop decides: it may bind other keys,
// ask the user, change the keys later or refuse, and says so asynchronously, as `rebound`
// events. Activated and Deactivated arrive as presses and releases.
//
// A registration answers at once with a handle when the portal exists; where it does not
// (no portal service, or one without this interface), registrations fail with a text that
// tells the user to bind the pick command in the desktop's keyboard settings.

#include "backends/linux/NamedHotKeys.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <chrono>
#include <map>
#include <memory>
#include <optional>

struct PortalAnswer;

class PortalGlobalShortcuts final : public QObject, public NamedHotKeys {
    Q_OBJECT

public:
    struct Options {
        // Binding may show the desktop's dialog and wait for the user.
        std::chrono::milliseconds timeout{std::chrono::minutes(5)};
    };

    // On the session bus; null (and one log line) when there is none.
    static std::unique_ptr<PortalGlobalShortcuts> create();

    explicit PortalGlobalShortcuts(QDBusConnection bus);
    PortalGlobalShortcuts(QDBusConnection bus, Options options);
    ~PortalGlobalShortcuts() override;

    Registration registerHotKey(const Request& request) override;
    // Waits for the portal's answer to the first question, if it has not come yet.
    bool isAvailable() const override;
    // The desktop settles conflicts itself when it binds.
    std::optional<bool> isTriggerTaken(const Trigger&) override { return std::nullopt; }

    // The portal's text for a trigger ("ALT+c", "CTRL+SHIFT+k"): modifiers, then the key's
    // keysym name on a US layout; none for a key or modifier it cannot name.
    static std::optional<QString> triggerText(const Trigger& trigger);
    // A trigger back from such a text, or from the desktop's description of one ("Alt+C");
    // none when it is neither.
    static std::optional<Trigger> parseTrigger(const QString& text);

private Q_SLOTS:
    void onActivated(const QDBusMessage& message);
    void onDeactivated(const QDBusMessage& message);
    void onShortcutsChanged(const QDBusMessage& message);
    void onSessionClosed();
    void onPortalOwnerChanged(const QString& service, const QString& oldOwner,
                              const QString& newOwner);

private:
    // What the portal was asked for a shortcut id in this session, and what it bound.
    struct Binding {
        Trigger requested;
        bool asked = false; // sent, the answer still to come
        bool answered = false;
        std::optional<Trigger> bound;
    };

    void scheduleBind();
    void createSession();
    void closeSession();
    void bind();
    void bindAnswered(const QStringList& asked, const PortalAnswer& answer);
    void applyBindings(const std::map<QString, QString>& triggers, const QStringList& asked);
    void unbind(const QStringList& shortcutIDs);
    QDBusMessage portalCall(const QString& method) const;
    bool isOurSession(const QDBusMessage& message) const;

    QDBusConnection m_bus;
    Options m_options;
    mutable std::optional<QDBusPendingCall> m_versionCall;
    mutable std::optional<bool> m_available;
    std::map<QString, Binding> m_bindings;
    QString m_session;
    bool m_creatingSession = false;
    bool m_sessionHasBound = false;
    bool m_portalGone = false; // it went away with our session
    bool m_bindScheduled = false;
    QDBusServiceWatcher m_portalWatcher;
};
