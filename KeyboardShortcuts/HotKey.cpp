#include "KeyboardShortcuts/HotKey.h"

#include "KeyboardShortcuts/Shortcut.h"
#include "KeyboardShortcuts/Utilities.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QThread>
#include <limits>

namespace KeyboardShortcuts {

namespace {

// The modifier a key is, none for other keys.
ModifierFlags modifierOfKey(int key) {
    switch (key) {
    case Qt::Key_Shift:
        return ModifierFlag::shift;
    case Qt::Key_Control:
        return ModifierFlag::control;
    case Qt::Key_Alt:
        return ModifierFlag::option;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
        return ModifierFlag::command;
    default:
        return 0;
    }
}

bool fitsUInt32(std::int64_t value) {
    return value >= 0 && value <= std::int64_t(std::numeric_limits<std::uint32_t>::max());
}

} // namespace

HotKey::HotKey(HotKeyCenter& center, std::uint32_t hotKeyId, std::int64_t keyCode,
               std::int64_t modifiers, std::function<void()> keyDown, std::function<void()> keyUp)
    : carbonKeyCode(keyCode)
    , carbonModifiers(modifiers)
    , onKeyDown(std::move(keyDown))
    , onKeyUp(std::move(keyUp))
    , id(hotKeyId)
    , m_center(&center) {}

HotKey::~HotKey() {
    HotKeyCenter* center = m_center.data();
    if (!center)
        return;
    if (isMainThread()) {
        center->hotKeyDestroyed(id, registration);
    } else {
        QMetaObject::invokeMethod(
            center,
            [center = m_center, hotKeyId = id, handle = registration] {
                if (center)
                    center->hotKeyDestroyed(hotKeyId, handle);
            },
            Qt::QueuedConnection);
    }
}

bool HotKey::matches(std::int64_t keyCode, std::int64_t mask) const {
    return keyCode == carbonKeyCode && normalizedModifiers(keyCode, mask) ==
                                           normalizedModifiers(carbonKeyCode, carbonModifiers);
}

HotKeyCenter::HotKeyCenter(HotKeyService& service, const KeyboardLayout& layout, QObject* parent)
    : QObject(parent)
    , m_service(service)
    , m_layout(layout) {
    m_menuMonitor = std::make_unique<MenuTrackingMonitor>([this](bool open) { setMenuOpen(open); });
}

HotKeyCenter::~HotKeyCenter() {
    m_keyEventMonitor.reset();
    m_menuMonitor.reset();
    if (m_eventHandlerInstalled)
        m_service.installEventHandler({});
    // Hot keys outliving the center find it gone (QPointer) and leave the service alone,
    // so their registrations are dropped here.
    for (auto& [id, weak] : m_hotKeys) {
        if (const auto hotKey = weak.lock(); hotKey && hotKey->registration) {
            m_service.unregisterHotKey(*hotKey->registration);
            hotKey->registration.reset();
        }
    }
}

bool HotKeyCenter::registerWithService(HotKey& hotKey) {
    if (!fitsUInt32(hotKey.carbonKeyCode) || !fitsUInt32(hotKey.carbonModifiers)) {
        m_lastRegistrationError = QStringLiteral("key code or modifiers out of range");
        return false;
    }
    // The service gets the mask it should grab: no Function bit where it does not count.
    const HotKeyService::Registration result = m_service.registerHotKey(
        {{signature, hotKey.id},
         hotKey.description,
         {std::uint32_t(hotKey.carbonKeyCode),
          std::uint32_t(normalizedModifiers(hotKey.carbonKeyCode, hotKey.carbonModifiers))}});
    if (!result.handle) {
        m_lastRegistrationError = result.error;
        return false;
    }
    hotKey.registration = result.handle;
    hotKey.boundTrigger = result.boundTrigger;
    return true;
}

bool HotKeyCenter::registerHotKey(const std::shared_ptr<HotKey>& hotKey) {
    Q_ASSERT(isMainThread());
    if (!hotKey || !registerWithService(*hotKey))
        return false;
    m_hotKeys[hotKey->id] = hotKey;

    if (!m_eventHandlerInstalled) {
        QPointer<HotKeyCenter> self(this);
        m_eventHandlerInstalled =
            m_service.installEventHandler([self](const HotKeyService::Event& event) {
                return self && self->handleHotKeyEvent(event);
            });
        // Registered but deaf; the next registration tries the installation again.
        if (!m_eventHandlerInstalled)
            return true;
    }
    applyMode();
    return true;
}

void HotKeyCenter::setEnabled(bool enabled) {
    if (m_isEnabled == enabled)
        return;
    m_isEnabled = enabled;
    updateMode();
}

void HotKeyCenter::setMenuOpen(bool open) {
    // The mode is the main thread's: told from elsewhere, the change itself hops there.
    if (!isMainThread()) {
        QMetaObject::invokeMethod(
            this,
            [self = QPointer(this), open] {
                if (self)
                    self->setMenuOpen(open);
            },
            Qt::QueuedConnection);
        return;
    }
    if (m_isMenuOpen == open)
        return;
    m_isMenuOpen = open;
    updateMode();
}

void HotKeyCenter::updateMode() {
    Q_ASSERT(isMainThread());
    const Mode previous = m_mode;
    m_mode = !m_isEnabled ? Mode::disabled : m_isMenuOpen ? Mode::menuOpen : Mode::normal;
    if (m_mode == previous || !m_eventHandlerInstalled)
        return;
    applyMode();
}

void HotKeyCenter::applyMode() {
    if (m_mode == Mode::normal)
        registerPendingHotKeys();
    else
        unregisterAllHotKeys();
    setHotKeyEventHandlingEnabled(m_mode == Mode::normal);
    setRawKeyEventHandlingEnabled(m_mode == Mode::menuOpen);
}

void HotKeyCenter::registerPendingHotKeys() {
    std::vector<std::shared_ptr<HotKey>> live;
    for (const auto& [id, weak] : m_hotKeys) {
        if (auto hotKey = weak.lock())
            live.push_back(std::move(hotKey));
    }
    for (const std::shared_ptr<HotKey>& hotKey : live) {
        if (hotKey->registration || registerWithService(*hotKey))
            continue;
        m_hotKeys.erase(hotKey->id);
        if (hotKey->onRegistrationFailed) {
            const auto failed = hotKey->onRegistrationFailed;
            failed();
        }
    }
}

void HotKeyCenter::unregisterAllHotKeys() {
    for (const auto& [id, weak] : m_hotKeys) {
        const auto hotKey = weak.lock();
        if (hotKey && hotKey->registration) {
            m_service.unregisterHotKey(*hotKey->registration);
            hotKey->registration.reset();
        }
    }
}

void HotKeyCenter::setHotKeyEventHandlingEnabled(bool enabled) {
    m_isHotKeyEventHandlingEnabled = enabled;
}

void HotKeyCenter::setRawKeyEventHandlingEnabled(bool enabled) {
    if (m_isRawKeyEventHandlingEnabled == enabled)
        return;
    m_isRawKeyEventHandlingEnabled = enabled;
    if (enabled) {
        if (!m_keyEventMonitor) {
            QPointer<HotKeyCenter> self(this);
            m_keyEventMonitor = std::make_unique<LocalEventMonitor>(
                [self](QKeyEvent& event) { return self && self->handleKeyEvent(event); });
        }
        m_keyEventMonitor->start();
    } else if (m_keyEventMonitor) {
        m_keyEventMonitor->stop();
    }
    m_rawPressed.reset();
}

bool HotKeyCenter::handleHotKeyEvent(const HotKeyService::Event& event) {
    if (!isMainThread() || !m_isHotKeyEventHandlingEnabled)
        return false;
    if (event.hotKeyID.signature != signature)
        return false;
    const std::shared_ptr<HotKey> found = hotKey(event.hotKeyID.id);
    if (!found)
        return false;
    if (event.kind == HotKeyService::EventKind::rebound) {
        found->boundTrigger = event.trigger;
        if (const std::function<void()> rebound = found->onRebound)
            rebound();
        return true;
    }
    // A copy: the callback may destroy the hot key it belongs to.
    const std::function<void()> callback =
        event.kind == HotKeyService::EventKind::released ? found->onKeyUp : found->onKeyDown;
    if (callback)
        callback();
    return true;
}

bool HotKeyCenter::handleKeyEvent(const QKeyEvent& event) {
    if (!m_isRawKeyEventHandlingEnabled)
        return false;
    if (event.type() == QEvent::KeyPress && event.isAutoRepeat())
        return false;
    // Caps Lock and the keypad flag never prevent a match.
    const ModifierFlags flags =
        modifierFlags(event.modifiers()) & ~(ModifierFlag::capsLock | ModifierFlag::numericPad);
    if (const ModifierFlags modifier = modifierOfKey(event.key());
        modifier && event.type() == QEvent::KeyPress) {
        // A menu closes on a bare Alt press and gives up the keyboard: the rest of a
        // shortcut being typed would go to the window below it. Held back while it can
        // still become one of the hot keys.
        const std::int64_t held = carbonModifiers(flags | modifier);
        for (const auto& [id, weak] : m_hotKeys) {
            const auto hotKey = weak.lock();
            if (hotKey && held != 0 && (hotKey->carbonModifiers & held) == held)
                return true;
        }
        return false;
    }
    const auto keyCode = m_layout.virtualKeyCode(event);
    if (!keyCode)
        return false;
    if (event.type() == QEvent::KeyRelease) {
        // The release belongs to the hot key that saw the press, whatever modifiers the
        // user let go of first.
        if (!m_rawPressed || m_rawPressed->second != *keyCode)
            return false;
        const std::shared_ptr<HotKey> pressed = hotKey(m_rawPressed->first);
        m_rawPressed.reset();
        const std::function<void()> callback = pressed ? pressed->onKeyUp : nullptr;
        if (callback)
            callback();
        return true;
    }
    const std::int64_t modifiers = normalizedModifiers(*keyCode, carbonModifiers(flags));
    for (const auto& [id, weak] : m_hotKeys) {
        const auto hotKey = weak.lock();
        if (!hotKey || !hotKey->matches(*keyCode, modifiers))
            continue;
        m_rawPressed = std::pair(hotKey->id, *keyCode);
        const std::function<void()> callback = hotKey->onKeyDown;
        if (callback)
            callback();
        return true;
    }
    return false;
}

std::shared_ptr<HotKey> HotKeyCenter::hotKey(std::uint32_t id) const {
    const auto it = m_hotKeys.find(id);
    return it == m_hotKeys.end() ? nullptr : it->second.lock();
}

void HotKeyCenter::hotKeyDestroyed(std::uint32_t id,
                                   std::optional<HotKeyService::Handle> registration) {
    if (registration)
        m_service.unregisterHotKey(*registration);
    m_hotKeys.erase(id);
}

std::vector<std::pair<std::int64_t, std::int64_t>> HotKeyCenter::systemSymbolicHotKeys() const {
    std::vector<std::pair<std::int64_t, std::int64_t>> pairs;
    for (const HotKeyService::SymbolicHotKey& entry : m_service.symbolicHotKeys()) {
        if (entry.enabled && entry.keyCode && entry.modifiers)
            pairs.emplace_back(*entry.keyCode, *entry.modifiers);
    }
    return pairs;
}

} // namespace KeyboardShortcuts
