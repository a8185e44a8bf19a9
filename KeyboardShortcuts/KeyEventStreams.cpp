#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "KeyboardShortcuts/Utilities.h"
#include "platform/Scheduler.h"

#include <QCoreApplication>

// The streams of key events, and the registry's factories of them.

namespace KeyboardShortcuts {

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

} // namespace KeyboardShortcuts
