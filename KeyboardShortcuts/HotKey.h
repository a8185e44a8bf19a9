#pragma once

// The layer between the shortcut registry and the system-wide hot key service. A HotKey
// is one registration of a key code with a modifier mask and its two callbacks; the
// HotKeyCenter registers hot keys with the service and routes their presses and
// releases. While a menu of the application is open, the service's grabs cannot fire
// (the menu holds the keyboard), so the center unregisters them and matches the
// application's own key events instead.

#include "platform/HotKeyService.h"
#include "platform/KeyboardLayout.h"
#include "platform/VirtualKeys.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

class QKeyEvent;

namespace KeyboardShortcuts {

class HotKeyCenter;
class LocalEventMonitor;
class MenuTrackingMonitor;

using VirtualKey::functionFlagKeys;
using VirtualKey::functionKeyCodes;
// The mask reduced to the five modifiers; the Function bit cleared for functionFlagKeys.
inline std::int64_t normalizedModifiers(std::int64_t keyCode, std::int64_t carbonModifiers) {
    return CarbonModifier::normalized(keyCode, carbonModifiers);
}

class HotKey {
public:
    // Owned by its creator; the center only refers to it weakly. Destroying it
    // unregisters it and removes the center's entry for its id.
    HotKey(HotKeyCenter& center, std::uint32_t id, std::int64_t carbonKeyCode,
           std::int64_t carbonModifiers, std::function<void()> onKeyDown,
           std::function<void()> onKeyUp);
    ~HotKey();
    HotKey(const HotKey&) = delete;
    HotKey& operator=(const HotKey&) = delete;

    const std::int64_t carbonKeyCode;
    const std::int64_t carbonModifiers;
    const std::function<void()> onKeyDown;
    const std::function<void()> onKeyUp;
    // Run when a deferred registration (on returning to normal mode) fails.
    std::function<void()> onRegistrationFailed;
    // What it does, for the desktop's list of shortcuts; set before registering.
    QString description;
    // The keys the service bound, which a desktop may choose differently from the ones
    // asked for; none until known. Run `onRebound` when the desktop changes them.
    std::optional<HotKeyService::Trigger> boundTrigger;
    std::function<void()> onRebound;
    const std::uint32_t id;
    // Set while registered with the service.
    std::optional<HotKeyService::Handle> registration;

    bool matches(std::int64_t keyCode, std::int64_t carbonModifiers) const;

private:
    QPointer<HotKeyCenter> m_center;
};

class HotKeyCenter final : public QObject {
    Q_OBJECT

public:
    enum class Mode { disabled, normal, menuOpen };

    // 'SSKS': the signature of every hot key id handed to the service.
    static constexpr std::uint32_t signature = 0x53534B53;

    // `layout` gives the virtual key codes of the application's own key events.
    HotKeyCenter(HotKeyService& service, const KeyboardLayout& layout, QObject* parent = nullptr);
    ~HotKeyCenter() override;

    HotKeyService& service() { return m_service; }

    // The next hot key id; ids start at 1.
    std::uint32_t makeHotKeyId() { return ++m_lastHotKeyId; }

    // True when the service registered the hot key; the center then keeps a weak entry
    // for it and applies the current mode.
    bool registerHotKey(const std::shared_ptr<HotKey>& hotKey);
    // Why the last registration failed.
    const QString& lastRegistrationError() const { return m_lastRegistrationError; }

    void setEnabled(bool enabled);
    bool isEnabled() const { return m_isEnabled; }
    void setMenuOpen(bool open);
    bool isMenuOpen() const { return m_isMenuOpen; }
    Mode mode() const { return m_mode; }

    void updateMode();
    void registerPendingHotKeys();
    void unregisterAllHotKeys();
    void setHotKeyEventHandlingEnabled(bool enabled);
    void setRawKeyEventHandlingEnabled(bool enabled);
    bool isHotKeyEventHandlingEnabled() const { return m_isHotKeyEventHandlingEnabled; }
    bool isRawKeyEventHandlingEnabled() const { return m_isRawKeyEventHandlingEnabled; }

    // The service's events: true when handled.
    bool handleHotKeyEvent(const HotKeyService::Event& event);
    // The application's key events while a menu is open: true swallows the event.
    bool handleKeyEvent(const QKeyEvent& event);

    // The live hot key with this id, if the center has an entry for it.
    std::shared_ptr<HotKey> hotKey(std::uint32_t id) const;

    // (key code, Carbon mask) of the desktop's enabled shortcuts, in its order.
    std::vector<std::pair<std::int64_t, std::int64_t>> systemSymbolicHotKeys() const;

private:
    friend class HotKey;
    void hotKeyDestroyed(std::uint32_t id, std::optional<HotKeyService::Handle> registration);
    bool registerWithService(HotKey& hotKey);
    void applyMode();

    HotKeyService& m_service;
    const KeyboardLayout& m_layout;
    std::uint32_t m_lastHotKeyId = 0;
    std::map<std::uint32_t, std::weak_ptr<HotKey>> m_hotKeys;
    bool m_eventHandlerInstalled = false;
    std::unique_ptr<MenuTrackingMonitor> m_menuMonitor;
    bool m_isEnabled = true;
    bool m_isMenuOpen = false;
    bool m_isHotKeyEventHandlingEnabled = false;
    bool m_isRawKeyEventHandlingEnabled = false;
    std::unique_ptr<LocalEventMonitor> m_keyEventMonitor;
    // (hot key id, key code) of the hot key whose press the application's key events
    // matched, until its release.
    std::optional<std::pair<std::uint32_t, std::int64_t>> m_rawPressed;
    Mode m_mode = Mode::normal;
    QString m_lastRegistrationError;
};

} // namespace KeyboardShortcuts
