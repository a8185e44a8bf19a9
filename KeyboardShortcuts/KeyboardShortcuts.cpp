#include "KeyboardShortcuts/KeyboardShortcuts.h"

#include "KeyboardShortcuts/Utilities.h"
#include "platform/HotKeyService.h"
#include "platform/KeyboardLayout.h"
#include "platform/Logger.h"
#include "platform/NotificationCenter.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>

namespace KeyboardShortcuts {

namespace {

const QString storagePrefix = QStringLiteral("KeyboardShortcuts_");

const Logger& logger() {
    static const Logger instance("KeyboardShortcuts");
    return instance;
}

} // namespace

namespace detail {

// Names made before the process-wide registry existed; their side effects run when it
// is created.
std::vector<Name>& pendingNames() {
    static std::vector<Name> names;
    return names;
}

} // namespace detail

// Streams

struct KeyEventStream::State {
    std::uint64_t id = 0;
    std::optional<Name> name;
    std::optional<Shortcut> shortcut;
    std::optional<EventType> filter;
    std::deque<EventType> buffer;
    std::function<void(EventType)> handler;
    bool ended = false;

    void yield(EventType type) {
        if (ended || (filter && *filter != type))
            return;
        if (handler) {
            const auto deliver = handler; // the handler may replace itself
            deliver(type);
        } else {
            buffer.push_back(type);
        }
    }
};

KeyEventStream::KeyEventStream(QPointer<Registry> registry, std::shared_ptr<State> state)
    : m_registry(std::move(registry))
    , m_state(std::move(state)) {}

KeyEventStream& KeyEventStream::operator=(KeyEventStream&& other) noexcept {
    if (this != &other) {
        end();
        m_registry = std::move(other.m_registry);
        m_state = std::move(other.m_state);
    }
    return *this;
}

KeyEventStream::~KeyEventStream() {
    end();
}

void KeyEventStream::setHandler(std::function<void(EventType)> handler) {
    if (!m_state)
        return;
    m_state->handler = std::move(handler);
    while (m_state && m_state->handler && !m_state->buffer.empty()) {
        const EventType type = m_state->buffer.front();
        m_state->buffer.pop_front();
        const auto deliver = m_state->handler;
        deliver(type);
    }
}

std::vector<EventType> KeyEventStream::takePending() {
    if (!m_state)
        return {};
    std::vector<EventType> events(m_state->buffer.begin(), m_state->buffer.end());
    m_state->buffer.clear();
    return events;
}

void KeyEventStream::end() {
    if (!m_state)
        return;
    // The stream's state is the main thread's: ended elsewhere, the ending itself hops.
    if (!isMainThread()) {
        if (Registry* registry = m_registry.data())
            QMetaObject::invokeMethod(
                registry,
                [stream = KeyEventStream(m_registry, m_state)]() mutable { stream.end(); },
                Qt::QueuedConnection);
        return;
    }
    if (m_state->ended)
        return;
    m_state->ended = true;
    m_state->handler = nullptr;
    if (Registry* registry = m_registry.data())
        registry->endStream(m_state->id, m_state->name, m_state->shortcut);
}

struct RepeatingKeyDownStream::State {
    QPointer<Registry> registry;
    Scheduler* scheduler = nullptr;
    std::optional<KeyEventStream> inner;
    std::optional<Name> name;
    std::optional<Shortcut> shortcut;
    std::optional<Shortcut> heldShortcut;
    HotKeyService::KeyRepeat keyRepeat;
    // Identifies the running repeat task; cancelling bumps it, so at most one runs.
    std::uint64_t repeatTask = 0;
    bool pending = false;
    std::function<void()> handler;
    bool ended = false;

    void yield() {
        if (ended)
            return;
        if (handler) {
            const auto deliver = handler;
            deliver();
        } else {
            pending = true;
        }
    }

    bool holdIsValid() const {
        Registry* r = registry.data();
        if (!r || r->isPaused() || !r->isEnabled())
            return false;
        if (!name)
            return shortcut && r->registeredHotKey(*shortcut) != nullptr;
        if (!r->isNameActive(*name))
            return false;
        const auto stored = r->getShortcut(*name);
        return stored && r->registeredHotKey(*stored) && heldShortcut == stored;
    }

    static void startRepeating(const std::shared_ptr<State>& state) {
        const std::uint64_t task = ++state->repeatTask;
        scheduleTick(state, task, state->keyRepeat.delay);
    }

    static void scheduleTick(const std::shared_ptr<State>& state, std::uint64_t task,
                             std::chrono::milliseconds delay) {
        state->scheduler->schedule(delay, [weak = std::weak_ptr(state), task] {
            const auto self = weak.lock();
            if (!self || self->ended || self->repeatTask != task || !self->holdIsValid())
                return;
            self->yield();
            if (!self->ended && self->repeatTask == task)
                scheduleTick(self, task, self->keyRepeat.interval);
        });
    }
};

RepeatingKeyDownStream::RepeatingKeyDownStream(std::shared_ptr<State> state)
    : m_state(std::move(state)) {}

RepeatingKeyDownStream& RepeatingKeyDownStream::operator=(RepeatingKeyDownStream&& other) noexcept {
    if (this != &other) {
        end();
        m_state = std::move(other.m_state);
    }
    return *this;
}

RepeatingKeyDownStream::~RepeatingKeyDownStream() {
    end();
}

void RepeatingKeyDownStream::setHandler(std::function<void()> handler) {
    if (!m_state)
        return;
    m_state->handler = std::move(handler);
    if (m_state->pending && m_state->handler) {
        m_state->pending = false;
        const auto deliver = m_state->handler;
        deliver();
    }
}

bool RepeatingKeyDownStream::takePending() {
    if (!m_state || !m_state->pending)
        return false;
    m_state->pending = false;
    return true;
}

void RepeatingKeyDownStream::end() {
    if (!m_state || m_state->ended)
        return;
    m_state->ended = true;
    ++m_state->repeatTask;
    m_state->handler = nullptr;
    m_state->inner.reset();
}

// Names and payloads

Name::Name(QString rawValue, std::optional<Shortcut> initialShortcut)
    : m_rawValue(std::move(rawValue))
    , m_initialShortcut(initialShortcut) {
    if (isConfigured())
        shared().nameCreated(*this);
    else
        detail::pendingNames().push_back(*this);
}

Name Name::fromRawValue(QString rawValue) {
    return Name(std::move(rawValue), std::nullopt, 0);
}

std::optional<Shortcut> Name::shortcut() const {
    return shared().getShortcut(*this);
}

void Name::setShortcut(const std::optional<Shortcut>& shortcut) const {
    shared().setShortcut(shortcut, *this);
}

std::optional<Name> changedName(const QVariantMap& userInfo) {
    const auto it = userInfo.constFind(QStringLiteral("name"));
    if (it == userInfo.constEnd() || it->metaType() != QMetaType::fromType<Name>())
        return std::nullopt;
    return it->value<Name>();
}

bool isActiveFlag(const QVariantMap& userInfo) {
    const auto it = userInfo.constFind(QStringLiteral("isActive"));
    if (it == userInfo.constEnd() || it->metaType() != QMetaType::fromType<bool>())
        return false;
    return it->toBool();
}

// Registry

Registry::Registry(Services services, QObject* parent)
    : QObject(parent)
    , m_services(services) {}

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
    const QJsonValue value = m_services.defaults.value(storageKey(name));
    // False (removed), true, numbers and the rest read as none; a string that does not
    // decode is left as it is until the next store replaces it.
    if (!value.isString())
        return std::nullopt;
    return Shortcut::fromJson(value.toString().toUtf8());
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

KeyEventStream Registry::makeStream(std::optional<EventType> filter, std::optional<Name> name,
                                    std::optional<Shortcut> shortcut) {
    auto state = std::make_shared<KeyEventStream::State>();
    state->name = name;
    state->shortcut = shortcut;
    state->filter = filter;
    subscribe({0, Subscriber::Kind::stream, name, name ? std::nullopt : shortcut, std::nullopt,
               [weak = std::weak_ptr(state)](EventType type) {
                   if (const auto s = weak.lock())
                       s->yield(type);
               }});
    state->id = m_lastSubscriberId;
    if (name)
        registerShortcutIfNeeded(*name);
    else
        registerShortcut(*shortcut);
    return KeyEventStream(QPointer(this), std::move(state));
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

RepeatingKeyDownStream Registry::makeRepeatingStream(KeyEventStream inner, std::optional<Name> name,
                                                     std::optional<Shortcut> shortcut) {
    auto state = std::make_shared<RepeatingKeyDownStream::State>();
    state->registry = this;
    state->scheduler = &m_services.scheduler;
    state->name = std::move(name);
    state->shortcut = shortcut;
    state->keyRepeat = m_services.hotKeys.keyRepeat();
    inner.setHandler([weak = std::weak_ptr(state)](EventType type) {
        const auto self = weak.lock();
        if (!self || self->ended)
            return;
        if (type == EventType::keyDown) {
            if (self->name && self->registry)
                self->heldShortcut = self->registry->getShortcut(*self->name);
            self->yield();
            if (!self->ended)
                RepeatingKeyDownStream::State::startRepeating(self);
        } else {
            ++self->repeatTask;
        }
    });
    state->inner.emplace(std::move(inner));
    return RepeatingKeyDownStream(std::move(state));
}

RepeatingKeyDownStream Registry::repeatingKeyDownEvents(const Name& name) {
    return makeRepeatingStream(keyEvents(name), name, std::nullopt);
}

RepeatingKeyDownStream Registry::repeatingKeyDownEvents(const Shortcut& shortcut) {
    return makeRepeatingStream(keyEvents(shortcut), std::nullopt, shortcut);
}

// The process-wide registry

namespace {

// Never destroyed: it lives until the process exits, and by then Qt and the X
// connection it uses are gone. The server drops the grabs with the connection.
Registry*& sharedRegistry() {
    static Registry* registry = nullptr;
    return registry;
}

// Used before start-up configured the registry: shortcuts are stored but never grabbed.
Registry::Services unconfiguredServices() {
    return {HotKeyService::unavailable(), UserDefaults::standard(),
            NotificationCenter::defaultCenter(), Scheduler::main(), KeyboardLayout::us()};
}

} // namespace

void configure(Registry::Services services) {
    if (sharedRegistry()) {
        logger().error("The global shortcuts are already configured; ignoring the new services");
        return;
    }
    sharedRegistry() = new Registry(services);
    setKeyboardLayout(&services.layout);
    const std::vector<Name> pending = std::exchange(detail::pendingNames(), {});
    for (const Name& name : pending)
        sharedRegistry()->nameCreated(name);
}

Registry& shared() {
    if (!sharedRegistry()) {
        logger().error("The global shortcuts were used before start-up configured them");
        configure(unconfiguredServices());
    }
    return *sharedRegistry();
}

bool isConfigured() {
    return sharedRegistry() != nullptr;
}

std::vector<Shortcut> systemShortcuts() {
    return shared().systemShortcuts();
}

std::optional<Shortcut> getShortcut(const Name& name) {
    return shared().getShortcut(name);
}
void setShortcut(const std::optional<Shortcut>& shortcut, const Name& name) {
    shared().setShortcut(shortcut, name);
}
void resetShortcuts(const std::vector<Name>& names) {
    shared().resetShortcuts(names);
}
void removeAllShortcuts() {
    shared().removeAllShortcuts();
}
std::set<Name> storedNames() {
    return shared().storedNames();
}
void addKeyDownHandler(const Name& name, std::function<void()> handler) {
    shared().addKeyDownHandler(name, std::move(handler));
}
void addKeyUpHandler(const Name& name, std::function<void()> handler) {
    shared().addKeyUpHandler(name, std::move(handler));
}
void removeHandlers(const Name& name) {
    shared().removeHandlers(name);
}
void removeAllHandlers() {
    shared().removeAllHandlers();
}
void disableNames(const std::vector<Name>& names) {
    shared().disableNames(names);
}
void enableNames(const std::vector<Name>& names) {
    shared().enableNames(names);
}
std::optional<Shortcut> boundShortcut(const Name& name) {
    return shared().boundShortcut(name);
}

bool isShortcutRegistered(const Name& name) {
    return shared().isShortcutRegistered(name);
}
bool isEnabled() {
    return shared().isEnabled();
}
void setEnabled(bool enabled) {
    shared().setEnabled(enabled);
}
bool isPaused() {
    return shared().isPaused();
}
void setPaused(bool paused) {
    shared().setPaused(paused);
}
KeyEventStream keyEvents(const Name& name) {
    return shared().keyEvents(name);
}
KeyEventStream keyEvents(EventType type, const Name& name) {
    return shared().keyEvents(type, name);
}
KeyEventStream keyEvents(const Shortcut& shortcut) {
    return shared().keyEvents(shortcut);
}
KeyEventStream keyEvents(EventType type, const Shortcut& shortcut) {
    return shared().keyEvents(type, shortcut);
}
RepeatingKeyDownStream repeatingKeyDownEvents(const Name& name) {
    return shared().repeatingKeyDownEvents(name);
}
RepeatingKeyDownStream repeatingKeyDownEvents(const Shortcut& shortcut) {
    return shared().repeatingKeyDownEvents(shortcut);
}

} // namespace KeyboardShortcuts
