#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "KeyboardShortcuts/Utilities.h"
#include "platform/HotKeyService.h"
#include "platform/KeyboardLayout.h"
#include "platform/Logger.h"
#include "platform/NotificationCenter.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>

// The registry: stored shortcuts, their registration with the hot key service, and the
// subscribers that hear them.

namespace KeyboardShortcuts {

namespace {

const QString storagePrefix = QStringLiteral("KeyboardShortcuts_");

} // namespace

Registry::Registry(Services services, QObject* parent)
    : QObject(parent)
    , m_services(services) {
    // A shortcut changed in the settings file by hand moves its hot key at once.
    connect(&m_services.defaults, &UserDefaults::changedOutside, this,
            [this](const QStringList& keys) {
                std::vector<Shortcut> unused;
                for (const auto& [shortcut, hotKey] : m_registeredHotKeys) {
                    if (!isShortcutInUse(shortcut, std::nullopt))
                        unused.push_back(shortcut);
                }
                for (const Shortcut& shortcut : m_failedShortcuts) {
                    if (!isShortcutInUse(shortcut, std::nullopt))
                        unused.push_back(shortcut);
                }
                for (const Shortcut& shortcut : unused)
                    unregisterShortcut(shortcut);
                for (const QString& key : keys) {
                    if (!key.startsWith(storagePrefix))
                        continue;
                    const Name name = Name::fromRawValue(key.mid(storagePrefix.size()));
                    registerShortcutIfNeeded(name);
                    postChange(name);
                }
            });
}

Registry::~Registry() {
    // Hot keys unregister through the center, so they go first.
    m_registeredHotKeys.clear();
    m_center.reset();
}

HotKeyCenter& Registry::hotKeyCenter() {
    if (!m_center)
        m_center = std::make_unique<HotKeyCenter>(m_services.hotKeys, m_services.layout);
    return *m_center;
}

Name Registry::makeName(QString rawValue, std::optional<Shortcut> initialShortcut) {
    Name name(std::move(rawValue), initialShortcut, 0);
    nameCreated(name);
    return name;
}

void Registry::nameCreated(const Name& name) {
    // Only a fresh name gets its initial shortcut; a stored false means the user removed it.
    if (name.initialShortcut() && !m_services.defaults.contains(storageKey(name)))
        m_services.defaults.setValue(storageKey(name),
                                     QString::fromUtf8(name.initialShortcut()->toJson()));
    if (!m_centerCreationScheduled) {
        m_centerCreationScheduled = true;
        m_services.scheduler.schedule(std::chrono::milliseconds(0), [self = QPointer(this)] {
            if (self)
                self->hotKeyCenter();
        });
    }
}

QString Registry::storageKey(const Name& name) {
    return storagePrefix + name.rawValue();
}

std::optional<Shortcut> Registry::getShortcut(const Name& name) const {
    const QString key = storageKey(name);
    const QJsonValue value = m_services.defaults.value(key);
    // False (removed), true, numbers and the rest read as none; a string that does not
    // decode is left as it is until the next store replaces it.
    std::optional<Shortcut> shortcut;
    if (value.isString())
        shortcut = Shortcut::fromJson(value.toString().toUtf8());
    const bool removed = value.isUndefined() || (value.isBool() && !value.toBool());
    if (shortcut || removed)
        return shortcut;
    // Otherwise the name silently has no hot key: say so, once for each stored value.
    auto reported = m_reportedUnreadable.constFind(key);
    if (reported == m_reportedUnreadable.constEnd() || reported.value() != value) {
        m_reportedUnreadable.insert(key, value);
        QString text =
            QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact));
        text = text.mid(1, text.size() - 2);
        constexpr qsizetype shown = 80;
        if (text.size() > shown)
            text = text.left(shown) + QStringLiteral("…");
        logger().error("Ignored the stored shortcut %{public}s: %{public}s is not a shortcut", key,
                       text);
    }
    return std::nullopt;
}

void Registry::postChange(const Name& name) {
    m_services.notifications.post(shortcutByNameDidChange,
                                  {{QStringLiteral("name"), QVariant::fromValue(name)}});
}

bool Registry::storeShortcut(const Shortcut& shortcut, const Name& name) {
    if (const auto current = getShortcut(name))
        releaseShortcutIfUnused(*current, name);
    m_services.defaults.setValue(storageKey(name), QString::fromUtf8(shortcut.toJson()));
    registerShortcutIfNeeded(name);
    postChange(name);
    return true;
}

void Registry::removeStoredShortcut(const Name& name, bool keepRemovedMark) {
    if (const auto current = getShortcut(name))
        releaseShortcutIfUnused(*current, name);
    if (keepRemovedMark)
        m_services.defaults.setValue(storageKey(name), false);
    else
        m_services.defaults.removeValue(storageKey(name));
    registerShortcutIfNeeded(name);
    postChange(name);
}

void Registry::setShortcut(const std::optional<Shortcut>& shortcut, const Name& name) {
    if (shortcut) {
        storeShortcut(*shortcut, name);
        return;
    }
    const QJsonValue stored = m_services.defaults.value(storageKey(name));
    if (!name.initialShortcut()) {
        if (stored.isUndefined())
            return;
        removeStoredShortcut(name, false);
    } else {
        if (stored.isBool() && !stored.toBool())
            return;
        // False keeps the initial shortcut from coming back at the next launch.
        removeStoredShortcut(name, true);
    }
}

void Registry::resetShortcuts(const std::vector<Name>& names) {
    for (const Name& name : names) {
        if (name.initialShortcut()) {
            storeShortcut(*name.initialShortcut(), name);
        } else if (m_services.defaults.contains(storageKey(name))) {
            removeStoredShortcut(name, false);
        }
    }
}

void Registry::removeAllShortcuts() {
    for (const Name& name : storedNames())
        removeStoredShortcut(name, false);
}

std::set<Name> Registry::storedNames() const {
    std::set<Name> names;
    for (const QString& key : m_services.defaults.keys()) {
        if (key.startsWith(storagePrefix))
            names.insert(Name::fromRawValue(key.mid(storagePrefix.size())));
    }
    return names;
}

bool Registry::isNameActive(const Name& name) const {
    return !m_disabledNames.contains(name) && hasSubscribers(name, std::nullopt);
}

bool Registry::hasSubscribers(const Name& name, std::optional<Subscriber::Kind> kind) const {
    return std::any_of(m_subscribers.begin(), m_subscribers.end(), [&](const Subscriber& s) {
        return s.name == name && (!kind || s.kind == *kind);
    });
}

void Registry::subscribe(Subscriber subscriber) {
    subscriber.id = ++m_lastSubscriberId;
    m_subscribers.push_back(std::move(subscriber));
}

bool Registry::isShortcutInUse(const Shortcut& shortcut,
                               const std::optional<Name>& excluding) const {
    for (const Subscriber& subscriber : m_subscribers) {
        if (subscriber.shortcut == shortcut)
            return true;
        if (subscriber.name && subscriber.name != excluding && isNameActive(*subscriber.name) &&
            getShortcut(*subscriber.name) == shortcut)
            return true;
    }
    return false;
}

void Registry::registerShortcut(const Shortcut& shortcut) {
    Q_ASSERT(isMainThread());
    if (m_registeredHotKeys.contains(shortcut))
        return;
    HotKeyCenter& center = hotKeyCenter();
    auto hotKey = std::make_shared<HotKey>(
        center, center.makeHotKeyId(), shortcut.carbonKeyCode, shortcut.carbonModifiers,
        [this, shortcut] { dispatchKeyEvent(EventType::keyDown, shortcut); },
        [this, shortcut] { dispatchKeyEvent(EventType::keyUp, shortcut); });
    hotKey->description = descriptionFor(shortcut);
    hotKey->onRebound = [this, weak = std::weak_ptr(hotKey), shortcut] {
        if (const auto bound = weak.lock())
            logBinding(shortcut, *bound);
    };
    if (!center.registerHotKey(hotKey)) {
        registrationFailed(shortcut, center.lastRegistrationError());
        return;
    }
    hotKey->onRegistrationFailed = [this, weak = std::weak_ptr(hotKey), shortcut] {
        const auto it = m_registeredHotKeys.find(shortcut);
        if (it == m_registeredHotKeys.end() || it->second != weak.lock())
            return;
        m_registeredHotKeys.erase(it);
        registrationFailed(shortcut, hotKeyCenter().lastRegistrationError());
    };
    logBinding(shortcut, *hotKey);
    m_registeredHotKeys.emplace(shortcut, std::move(hotKey));
    if (m_failedShortcuts.erase(shortcut))
        logger().log("Registered the global shortcut %{public}s", shortcut.description(layout()));
}

QString Registry::descriptionFor(const Shortcut& shortcut) const {
    QStringList names;
    for (const Name& name : storedNames()) {
        if (isNameActive(name) && getShortcut(name) == shortcut)
            names.append(name.rawValue());
    }
    return names.isEmpty() ? shortcut.description(layout()) : names.join(QStringLiteral(", "));
}

void Registry::logBinding(const Shortcut& shortcut, const HotKey& hotKey) const {
    if (!hotKey.boundTrigger) {
        return;
    }
    const Shortcut bound(hotKey.boundTrigger->keyCode, hotKey.boundTrigger->carbonModifiers);
    if (bound != shortcut)
        logger().log("The desktop bound the global shortcut %{public}s to %{public}s",
                     shortcut.description(layout()), bound.description(layout()));
}

std::optional<Shortcut> Registry::boundShortcut(const Name& name) const {
    if (!isShortcutRegistered(name))
        return std::nullopt;
    const auto it = m_registeredHotKeys.find(*getShortcut(name));
    const auto& trigger = it->second->boundTrigger;
    if (!trigger)
        return std::nullopt;
    return Shortcut(trigger->keyCode, trigger->carbonModifiers);
}

void Registry::registrationFailed(const Shortcut& shortcut, const QString& error) {
    // One line per failure, not one per retry.
    if (m_failedShortcuts.insert(shortcut).second)
        logger().error("Could not register the global shortcut %{public}s: %{public}s",
                       shortcut.description(layout()), error);
    scheduleRetry();
}

void Registry::scheduleRetry() {
    if (m_retryScheduled)
        return;
    m_retryScheduled = true;
    m_services.scheduler.schedule(registrationRetryInterval, [self = QPointer(this)] {
        if (self)
            self->retryFailedRegistrations();
    });
}

void Registry::retryFailedRegistrations() {
    m_retryScheduled = false;
    const std::set<Shortcut> failed = m_failedShortcuts;
    for (const Shortcut& shortcut : failed) {
        if (m_registeredHotKeys.contains(shortcut) || !isShortcutInUse(shortcut, std::nullopt))
            m_failedShortcuts.erase(shortcut);
        else
            registerShortcut(shortcut);
    }
    if (!m_failedShortcuts.empty())
        scheduleRetry();
}

void Registry::unregisterShortcut(const Shortcut& shortcut) {
    Q_ASSERT(isMainThread());
    // Destroying the hot key unregisters it.
    m_registeredHotKeys.erase(shortcut);
    m_failedShortcuts.erase(shortcut);
}

void Registry::registerShortcutIfNeeded(const Name& name) {
    if (m_disabledNames.contains(name) || !isNameActive(name))
        return;
    if (const auto shortcut = getShortcut(name))
        registerShortcut(*shortcut);
}

void Registry::releaseShortcutIfUnused(const Shortcut& shortcut, const std::optional<Name>& name) {
    if (!isShortcutInUse(shortcut, name))
        unregisterShortcut(shortcut);
}

void Registry::dispatchKeyEvent(EventType type, const Shortcut& shortcut) {
    if (m_isPaused)
        return;
    // A copy: callbacks may add or remove subscribers.
    const std::vector<Subscriber> subscribers = m_subscribers;
    for (const Subscriber& subscriber : subscribers) {
        if (subscriber.type && subscriber.type != type)
            continue;
        const bool hears = subscriber.name ? !m_disabledNames.contains(*subscriber.name) &&
                                                 getShortcut(*subscriber.name) == shortcut
                                           : subscriber.shortcut == shortcut;
        if (hears)
            subscriber.callback(type);
    }
}

void Registry::addKeyDownHandler(const Name& name, std::function<void()> handler) {
    subscribe({0, Subscriber::Kind::handler, name, std::nullopt, EventType::keyDown,
               [handler = std::move(handler)](EventType) { handler(); }});
    registerShortcutIfNeeded(name);
}

void Registry::addKeyUpHandler(const Name& name, std::function<void()> handler) {
    subscribe({0, Subscriber::Kind::handler, name, std::nullopt, EventType::keyUp,
               [handler = std::move(handler)](EventType) { handler(); }});
    registerShortcutIfNeeded(name);
}

void Registry::removeHandlers(const Name& name) {
    std::erase_if(m_subscribers, [&](const Subscriber& s) {
        return s.kind == Subscriber::Kind::handler && s.name == name;
    });
    if (!m_disabledNames.contains(name) && hasSubscribers(name, Subscriber::Kind::stream))
        return;
    if (const auto shortcut = getShortcut(name); shortcut && !isShortcutInUse(*shortcut, name))
        unregisterShortcut(*shortcut);
}

void Registry::removeAllHandlers() {
    std::set<Shortcut> shortcuts;
    for (const Subscriber& subscriber : m_subscribers) {
        if (subscriber.kind != Subscriber::Kind::handler)
            continue;
        if (const auto shortcut = getShortcut(*subscriber.name))
            shortcuts.insert(*shortcut);
    }
    std::erase_if(m_subscribers,
                  [](const Subscriber& s) { return s.kind == Subscriber::Kind::handler; });
    for (const Shortcut& shortcut : shortcuts) {
        if (!isShortcutInUse(shortcut, std::nullopt))
            unregisterShortcut(shortcut);
    }
}

void Registry::disableNames(const std::vector<Name>& names) {
    for (const Name& name : names) {
        m_disabledNames.insert(name);
        if (const auto shortcut = getShortcut(name); shortcut && !isShortcutInUse(*shortcut, name))
            unregisterShortcut(*shortcut);
    }
}

void Registry::enableNames(const std::vector<Name>& names) {
    for (const Name& name : names) {
        m_disabledNames.erase(name);
        registerShortcutIfNeeded(name);
    }
}

bool Registry::isShortcutRegistered(const Name& name) const {
    if (!m_isEnabled || !isNameActive(name))
        return false;
    const auto shortcut = getShortcut(name);
    return shortcut && m_registeredHotKeys.contains(*shortcut);
}

void Registry::setEnabled(bool enabled) {
    if (m_isEnabled == enabled)
        return;
    m_isEnabled = enabled;
    applySwitches();
}

void Registry::setPaused(bool paused) {
    if (m_isPaused == paused)
        return;
    m_isPaused = paused;
    applySwitches();
}

void Registry::applySwitches() {
    hotKeyCenter().setEnabled(m_isEnabled && !m_isPaused);
}

std::shared_ptr<HotKey> Registry::registeredHotKey(const Shortcut& shortcut) const {
    const auto it = m_registeredHotKeys.find(shortcut);
    return it == m_registeredHotKeys.end() ? nullptr : it->second;
}

std::vector<Shortcut> Registry::systemShortcuts() {
    return KeyboardShortcuts::systemShortcuts(hotKeyCenter().systemSymbolicHotKeys());
}

void Registry::endStream(std::uint64_t id, const std::optional<Name>& name,
                         const std::optional<Shortcut>& shortcut) {
    std::erase_if(m_subscribers, [id](const Subscriber& s) { return s.id == id; });
    const std::optional<Shortcut> released = name ? getShortcut(*name) : shortcut;
    if (released && !isShortcutInUse(*released, std::nullopt))
        unregisterShortcut(*released);
}

KeyEventStream Registry::keyEvents(const Name& name) {
    return makeStream(std::nullopt, name, {});
}
KeyEventStream Registry::keyEvents(EventType type, const Name& name) {
    return makeStream(type, name, {});
}
KeyEventStream Registry::keyEvents(const Shortcut& shortcut) {
    return makeStream(std::nullopt, std::nullopt, shortcut);
}
KeyEventStream Registry::keyEvents(EventType type, const Shortcut& shortcut) {
    return makeStream(type, std::nullopt, shortcut);
}

RepeatingKeyDownStream Registry::repeatingKeyDownEvents(const Name& name) {
    return makeRepeatingStream(keyEvents(name), name, std::nullopt);
}

RepeatingKeyDownStream Registry::repeatingKeyDownEvents(const Shortcut& shortcut) {
    return makeRepeatingStream(keyEvents(shortcut), std::nullopt, shortcut);
}

} // namespace KeyboardShortcuts
