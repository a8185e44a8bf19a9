#pragma once

// Named global shortcuts: the application declares a Name (with an optional initial
// shortcut) and everything else refers to it. The Registry keeps the shortcut stored
// for each name, the handlers and event streams that want a name's key downs and key
// ups, and exactly one hot key per distinct shortcut that an active name or stream
// needs. The namespace functions act on one process-wide Registry, wired once at
// start-up (configure); tests build their own Registry with fakes.

#include "KeyboardShortcuts/HotKey.h"
#include "KeyboardShortcuts/Shortcut.h"

#include <QHash>
#include <QJsonValue>
#include <QMetaType>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

class KeyboardLayout;
class NotificationCenter;
class Scheduler;
class UserDefaults;

namespace KeyboardShortcuts {

class Registry;
class Name;

namespace detail {
std::vector<Name>& pendingNames();
}

inline const QString shortcutByNameDidChange =
    QStringLiteral("KeyboardShortcuts_shortcutByNameDidChange");
inline const QString recorderActiveStatusDidChange =
    QStringLiteral("KeyboardShortcuts_recorderActiveStatusDidChange");

class Name {
public:
    // The application's way: stores the initial shortcut when nothing is stored yet and
    // makes sure the hot key center is created, on the process-wide registry (deferred
    // until it is configured, when made before that).
    Name(QString rawValue, std::optional<Shortcut> initialShortcut);
    // No side effects and no initial shortcut (names rebuilt from storage).
    static Name fromRawValue(QString rawValue);
    Name() = default;

    const QString& rawValue() const { return m_rawValue; }
    const std::optional<Shortcut>& initialShortcut() const { return m_initialShortcut; }

    // getShortcut / setShortcut on the process-wide registry.
    std::optional<Shortcut> shortcut() const;
    void setShortcut(const std::optional<Shortcut>& shortcut) const;

    // By raw value alone.
    friend bool operator==(const Name& a, const Name& b) { return a.m_rawValue == b.m_rawValue; }
    friend bool operator<(const Name& a, const Name& b) { return a.m_rawValue < b.m_rawValue; }

private:
    friend class Registry;
    Name(QString rawValue, std::optional<Shortcut> initialShortcut, int /*no side effects*/)
        : m_rawValue(std::move(rawValue))
        , m_initialShortcut(initialShortcut) {}

    QString m_rawValue;
    std::optional<Shortcut> m_initialShortcut;
};

enum class EventType { keyDown, keyUp };

// Payload readers of the two notifications.
std::optional<Name> changedName(const QVariantMap& userInfo);
bool isActiveFlag(const QVariantMap& userInfo);

// A stream of key events. Events wait in the stream (without limit) until a handler
// is set or they are taken. Destroying the handle ends the stream and releases the hot
// key it needed, unless something else still uses it.
class KeyEventStream {
public:
    KeyEventStream(KeyEventStream&&) noexcept = default;
    KeyEventStream& operator=(KeyEventStream&&) noexcept;
    ~KeyEventStream();

    // Delivers the waiting events at once, then each new one as it comes.
    void setHandler(std::function<void(EventType)> handler);
    std::vector<EventType> takePending();

    struct State;

private:
    friend class Registry;
    KeyEventStream(QPointer<Registry> registry, std::shared_ptr<State> state);
    void end();

    QPointer<Registry> m_registry;
    std::shared_ptr<State> m_state;
};

// One element at key down, then one per key repeat interval (after the key repeat
// delay) while the shortcut is held. Keeps only the newest undelivered element.
class RepeatingKeyDownStream {
public:
    RepeatingKeyDownStream(RepeatingKeyDownStream&&) noexcept = default;
    RepeatingKeyDownStream& operator=(RepeatingKeyDownStream&&) noexcept;
    ~RepeatingKeyDownStream();

    void setHandler(std::function<void()> handler);
    // Whether an element was waiting; takes it.
    bool takePending();

    struct State;

private:
    friend class Registry;
    explicit RepeatingKeyDownStream(std::shared_ptr<State> state);
    void end();

    std::shared_ptr<State> m_state;
};

class Registry final : public QObject {
    Q_OBJECT

public:
    struct Services {
        HotKeyService& hotKeys;
        UserDefaults& defaults;
        NotificationCenter& notifications;
        Scheduler& scheduler;
        const KeyboardLayout& layout;
    };

    // How long a refused registration waits before it is tried again.
    static constexpr std::chrono::milliseconds registrationRetryInterval{5000};

    explicit Registry(Services services, QObject* parent = nullptr);
    ~Registry() override;

    // Names and storage.
    Name makeName(QString rawValue, std::optional<Shortcut> initialShortcut);
    // The side effects of making a name with the application's constructor.
    void nameCreated(const Name& name);
    static QString storageKey(const Name& name);
    std::optional<Shortcut> getShortcut(const Name& name) const;
    void setShortcut(const std::optional<Shortcut>& shortcut, const Name& name);
    void resetShortcuts(const std::vector<Name>& names);
    void removeAllShortcuts();
    std::set<Name> storedNames() const;

    // Handlers.
    void addKeyDownHandler(const Name& name, std::function<void()> handler);
    void addKeyUpHandler(const Name& name, std::function<void()> handler);
    void removeHandlers(const Name& name);
    void removeAllHandlers();
    void disableNames(const std::vector<Name>& names);
    void enableNames(const std::vector<Name>& names);
    bool isShortcutRegistered(const Name& name) const;
    // The keys the desktop actually bound for the name's shortcut, which may differ from
    // the stored ones; none unless registered and known.
    std::optional<Shortcut> boundShortcut(const Name& name) const;
    bool isEnabled() const { return m_isEnabled; }
    void setEnabled(bool enabled);
    bool isPaused() const { return m_isPaused; }
    void setPaused(bool paused);

    // Streams.
    KeyEventStream keyEvents(const Name& name);
    KeyEventStream keyEvents(EventType type, const Name& name);
    KeyEventStream keyEvents(const Shortcut& shortcut);
    KeyEventStream keyEvents(EventType type, const Shortcut& shortcut);
    RepeatingKeyDownStream repeatingKeyDownEvents(const Name& name);
    RepeatingKeyDownStream repeatingKeyDownEvents(const Shortcut& shortcut);

    // Hooks of storage changes.
    void registerShortcutIfNeeded(const Name& name);
    void releaseShortcutIfUnused(const Shortcut& shortcut, const std::optional<Name>& name);

    // Created on first use.
    HotKeyCenter& hotKeyCenter();
    bool hasHotKeyCenter() const { return m_center != nullptr; }
    std::shared_ptr<HotKey> registeredHotKey(const Shortcut& shortcut) const;
    std::size_t registeredHotKeyCount() const { return m_registeredHotKeys.size(); }
    bool isNameActive(const Name& name) const;

    std::vector<Shortcut> systemShortcuts();
    const KeyboardLayout& layout() const { return m_services.layout; }

private:
    friend class KeyEventStream;
    using Callback = std::function<void()>;

    // Who hears a shortcut: a handler or a stream, of a name (through the shortcut stored
    // for it) or of a shortcut itself. Kept in the order of subscription.
    struct Subscriber {
        enum class Kind { handler, stream };
        std::uint64_t id = 0;
        Kind kind = Kind::handler;
        std::optional<Name> name;
        std::optional<Shortcut> shortcut; // set when subscribed without a name
        std::optional<EventType> type;    // none: both
        std::function<void(EventType)> callback;
    };
    bool hasSubscribers(const Name& name, std::optional<Subscriber::Kind> kind) const;
    void subscribe(Subscriber subscriber);

    bool storeShortcut(const Shortcut& shortcut, const Name& name);
    void removeStoredShortcut(const Name& name, bool keepRemovedMark);
    void postChange(const Name& name);
    bool isShortcutInUse(const Shortcut& shortcut, const std::optional<Name>& excluding) const;
    void registerShortcut(const Shortcut& shortcut);
    void unregisterShortcut(const Shortcut& shortcut);
    void dispatchKeyEvent(EventType type, const Shortcut& shortcut);
    void applySwitches();
    void registrationFailed(const Shortcut& shortcut, const QString& error);
    // What the shortcut does, for the desktop: the names that use it.
    QString descriptionFor(const Shortcut& shortcut) const;
    void logBinding(const Shortcut& shortcut, const HotKey& hotKey) const;
    void scheduleRetry();
    void retryFailedRegistrations();
    KeyEventStream makeStream(std::optional<EventType> filter, std::optional<Name> name,
                              std::optional<Shortcut> shortcut);
    void endStream(std::uint64_t id, const std::optional<Name>& name,
                   const std::optional<Shortcut>& shortcut);
    RepeatingKeyDownStream makeRepeatingStream(KeyEventStream inner, std::optional<Name> name,
                                               std::optional<Shortcut> shortcut);

    Services m_services;
    std::unique_ptr<HotKeyCenter> m_center;
    bool m_centerCreationScheduled = false;
    // Stored values that are no shortcut, by key, once reported.
    mutable QHash<QString, QJsonValue> m_reportedUnreadable;
    std::map<Shortcut, std::shared_ptr<HotKey>> m_registeredHotKeys;
    std::set<Name> m_disabledNames;
    std::vector<Subscriber> m_subscribers;
    std::uint64_t m_lastSubscriberId = 0;
    bool m_isEnabled = true;
    bool m_isPaused = false;
    std::set<Shortcut> m_failedShortcuts;
    bool m_retryScheduled = false;
};

// The process-wide registry. Start-up's configure() wires it once, before first use; a
// use before that is logged and gets services that refuse every registration.
void configure(Registry::Services services);
Registry& shared();
// Whether the process-wide registry exists yet.
bool isConfigured();

// The namespace functions, on the process-wide registry.
std::optional<Shortcut> getShortcut(const Name& name);
void setShortcut(const std::optional<Shortcut>& shortcut, const Name& name);
void resetShortcuts(const std::vector<Name>& names);
void removeAllShortcuts();
std::set<Name> storedNames();
void addKeyDownHandler(const Name& name, std::function<void()> handler);
void addKeyUpHandler(const Name& name, std::function<void()> handler);
void removeHandlers(const Name& name);
void removeAllHandlers();
void disableNames(const std::vector<Name>& names);
void enableNames(const std::vector<Name>& names);
bool isShortcutRegistered(const Name& name);
std::optional<Shortcut> boundShortcut(const Name& name);
bool isEnabled();
void setEnabled(bool enabled);
bool isPaused();
void setPaused(bool paused);
KeyEventStream keyEvents(const Name& name);
KeyEventStream keyEvents(EventType type, const Name& name);
KeyEventStream keyEvents(const Shortcut& shortcut);
KeyEventStream keyEvents(EventType type, const Shortcut& shortcut);
RepeatingKeyDownStream repeatingKeyDownEvents(const Name& name);
RepeatingKeyDownStream repeatingKeyDownEvents(const Shortcut& shortcut);

} // namespace KeyboardShortcuts

Q_DECLARE_METATYPE(KeyboardShortcuts::Name)
