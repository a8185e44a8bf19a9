#include "KeyboardShortcuts/KeyboardShortcuts.h"

#include "platform/HotKeyService.h"
#include "platform/KeyboardLayout.h"
#include "platform/Logger.h"
#include "platform/NotificationCenter.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>

namespace KeyboardShortcuts {

namespace {

const QString storagePrefix = QStringLiteral("KeyboardShortcuts_");

const Logger& logger() {
    static const Logger instance("KeyboardShortcuts");
    return instance;
}

bool isMainThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

template <typename Table, typename Key> bool hasEntries(const Table& table, const Key& key) {
    const auto it = table.find(key);
    return it != table.end() && !it->second.empty();
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
    if (!m_state || m_state->ended)
        return;
    m_state->ended = true;
    m_state->handler = nullptr;
    Registry* registry = m_registry.data();
    if (!registry)
        return;
    const auto id = m_state->id;
    const auto name = m_state->name;
    const auto shortcut = m_state->shortcut;
    if (isMainThread()) {
        registry->endStream(id, name, shortcut);
    } else {
        QMetaObject::invokeMethod(
            registry,
            [registry = m_registry, id, name, shortcut] {
                if (registry)
                    registry->endStream(id, name, shortcut);
            },
            Qt::QueuedConnection);
    }
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
        m_center = std::make_unique<HotKeyCenter>(m_services.hotKeys);
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
    return !m_disabledNames.contains(name) &&
           (hasEntries(m_keyDownHandlers, name) || hasEntries(m_keyUpHandlers, name) ||
            hasEntries(m_streamKeyDownHandlers, name) || hasEntries(m_streamKeyUpHandlers, name));
}

bool Registry::isShortcutInUse(const Shortcut& shortcut,
                               const std::optional<Name>& excluding) const {
    std::set<Name> names;
    for (const auto& [name, handlers] : m_keyDownHandlers)
        names.insert(name);
    for (const auto& [name, handlers] : m_keyUpHandlers)
        names.insert(name);
    for (const auto& [name, handlers] : m_streamKeyDownHandlers)
        names.insert(name);
    for (const auto& [name, handlers] : m_streamKeyUpHandlers)
        names.insert(name);
    for (const Name& name : names) {
        if (name == excluding || !isNameActive(name))
            continue;
        if (getShortcut(name) == shortcut)
            return true;
    }
    return hasEntries(m_shortcutStreamKeyDownHandlers, shortcut) ||
           hasEntries(m_shortcutStreamKeyUpHandlers, shortcut);
}

void Registry::registerShortcut(const Shortcut& shortcut) {
    if (m_registeredHotKeys.contains(shortcut))
        return;
    HotKeyCenter& center = hotKeyCenter();
    auto hotKey = std::make_shared<HotKey>(
        center, center.makeHotKeyId(), shortcut.carbonKeyCode, shortcut.carbonModifiers,
        [this, shortcut] { dispatchKeyEvent(EventType::keyDown, shortcut); },
        [this, shortcut] { dispatchKeyEvent(EventType::keyUp, shortcut); });
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
    m_registeredHotKeys.emplace(shortcut, std::move(hotKey));
    if (m_failedShortcuts.erase(shortcut))
        logger().log("Registered the global shortcut %{public}s", shortcut.description(layout()));
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
    const bool down = type == EventType::keyDown;
    // Copies: callbacks may add or remove handlers.
    const auto handlers = down ? m_keyDownHandlers : m_keyUpHandlers;
    const auto streams = down ? m_streamKeyDownHandlers : m_streamKeyUpHandlers;
    const auto& shortcutTable =
        down ? m_shortcutStreamKeyDownHandlers : m_shortcutStreamKeyUpHandlers;
    const auto shortcutStreamsIt = shortcutTable.find(shortcut);
    const StreamHandlers shortcutStreams =
        shortcutStreamsIt == shortcutTable.end() ? StreamHandlers() : shortcutStreamsIt->second;

    for (const auto& [name, callbacks] : handlers) {
        if (m_disabledNames.contains(name) || getShortcut(name) != shortcut)
            continue;
        for (const Callback& callback : callbacks)
            callback();
    }
    for (const auto& [name, callbacks] : streams) {
        if (m_disabledNames.contains(name) || getShortcut(name) != shortcut)
            continue;
        for (const auto& [id, callback] : callbacks)
            callback();
    }
    for (const auto& [id, callback] : shortcutStreams)
        callback();
}

void Registry::addKeyDownHandler(const Name& name, std::function<void()> handler) {
    m_keyDownHandlers[name].push_back(std::move(handler));
    registerShortcutIfNeeded(name);
}

void Registry::addKeyUpHandler(const Name& name, std::function<void()> handler) {
    m_keyUpHandlers[name].push_back(std::move(handler));
    registerShortcutIfNeeded(name);
}

void Registry::removeHandlers(const Name& name) {
    m_keyDownHandlers.erase(name);
    m_keyUpHandlers.erase(name);
    if (!m_disabledNames.contains(name) &&
        (hasEntries(m_streamKeyDownHandlers, name) || hasEntries(m_streamKeyUpHandlers, name)))
        return;
    if (const auto shortcut = getShortcut(name); shortcut && !isShortcutInUse(*shortcut, name))
        unregisterShortcut(*shortcut);
}

void Registry::removeAllHandlers() {
    std::set<Shortcut> shortcuts;
    for (const auto* table : {&m_keyDownHandlers, &m_keyUpHandlers}) {
        for (const auto& [name, handlers] : *table) {
            if (const auto shortcut = getShortcut(name))
                shortcuts.insert(*shortcut);
        }
    }
    m_keyDownHandlers.clear();
    m_keyUpHandlers.clear();
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
    state->id = ++m_lastStreamId;
    state->name = name;
    state->shortcut = shortcut;
    state->filter = filter;
    const auto feeder = [weak = std::weak_ptr(state)](EventType type) {
        return [weak, type] {
            if (const auto s = weak.lock())
                s->yield(type);
        };
    };
    if (name) {
        m_streamKeyDownHandlers[*name][state->id] = feeder(EventType::keyDown);
        m_streamKeyUpHandlers[*name][state->id] = feeder(EventType::keyUp);
        registerShortcutIfNeeded(*name);
    } else {
        m_shortcutStreamKeyDownHandlers[*shortcut][state->id] = feeder(EventType::keyDown);
        m_shortcutStreamKeyUpHandlers[*shortcut][state->id] = feeder(EventType::keyUp);
        registerShortcut(*shortcut);
    }
    return KeyEventStream(QPointer(this), std::move(state));
}

void Registry::endStream(std::uint64_t id, const std::optional<Name>& name,
                         const std::optional<Shortcut>& shortcut) {
    const auto removeFrom = [id](auto& table, const auto& key) {
        const auto it = table.find(key);
        if (it == table.end())
            return;
        it->second.erase(id);
        if (it->second.empty())
            table.erase(it);
    };
    std::optional<Shortcut> released = shortcut;
    if (name) {
        removeFrom(m_streamKeyDownHandlers, *name);
        removeFrom(m_streamKeyUpHandlers, *name);
        released = getShortcut(*name);
    } else if (shortcut) {
        removeFrom(m_shortcutStreamKeyDownHandlers, *shortcut);
        removeFrom(m_shortcutStreamKeyUpHandlers, *shortcut);
    }
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

Registry::Services standardServices() {
    static HotKeyService* const hotKeys = makePlatformHotKeyService().release();
    static KeyboardLayout* const layout = makePlatformKeyboardLayout().release();
    return {*hotKeys, UserDefaults::standard(), NotificationCenter::defaultCenter(),
            Scheduler::main(), *layout};
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
    if (!sharedRegistry())
        configure(standardServices());
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
