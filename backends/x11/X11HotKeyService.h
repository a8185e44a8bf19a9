#pragma once

// Global hot keys on X11: a passive key grab on the root window for each registration,
// repeated for every combination of the lock modifiers (Caps Lock, Num Lock, Scroll
// Lock), because a grab matches the modifier state exactly. Presses and releases
// arrive on Qt's own connection and are taken out of its stream by a native event
// filter.

#include "platform/HotKeyService.h"

#include <QAbstractNativeEventFilter>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>
#include <xcb/xcb.h>

class X11HotKeyService final : public HotKeyService, public QAbstractNativeEventFilter {
public:
    // On Qt's X connection; null when Qt does not run on X11.
    static std::unique_ptr<X11HotKeyService> create();

    X11HotKeyService(xcb_connection_t* connection, xcb_window_t root);
    ~X11HotKeyService() override;
    X11HotKeyService(const X11HotKeyService&) = delete;
    X11HotKeyService& operator=(const X11HotKeyService&) = delete;

    // Grabs exactly the preferred trigger; the description has no place in X11.
    Registration registerHotKey(const Request& request) override;
    void unregisterHotKey(Handle handle) override;
    bool installEventHandler(std::function<bool(const Event&)> handler) override;
    // X11 has no list of the desktop's shortcuts; a taken key shows as a refused grab.
    std::vector<SymbolicHotKey> symbolicHotKeys() const override { return {}; }
    KeyRepeat keyRepeat() const override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    // X modifier bits of the keys that matter here, read from the server's mapping.
    struct ModifierBits {
        std::uint16_t alt = XCB_MOD_MASK_1;
        std::uint16_t super = XCB_MOD_MASK_4;
        std::uint16_t numLock = XCB_MOD_MASK_2;
        std::uint16_t scrollLock = 0;
        friend bool operator==(const ModifierBits&, const ModifierBits&) = default;
    };
    const ModifierBits& modifierBits() const { return m_bits; }

private:
    struct Grab {
        HotKeyID id;
        std::uint32_t carbonModifiers = 0;
        xcb_keycode_t keycode = 0;
        std::uint16_t modifiers = 0;
        std::vector<std::uint16_t> grabbedMasks; // in grab order
        bool pressed = false;
    };

    ModifierBits readModifierBits() const;
    std::vector<std::uint16_t> lockCombinations() const;
    std::optional<std::uint16_t> xModifiers(std::uint32_t carbon) const;
    // Grabs every lock combination or none; answers why it failed.
    std::optional<QString> grab(Grab& grab);
    void ungrab(Grab& grab);
    void mappingChanged();
    std::uint16_t significantState(std::uint16_t state) const;

    xcb_connection_t* m_connection;
    xcb_window_t m_root;
    ModifierBits m_bits;
    std::uint8_t m_xkbFirstEvent = 0;
    bool m_detectableAutoRepeat = false;
    std::map<Handle, Grab> m_grabs;
    Handle m_lastHandle = 0;
    std::function<bool(const Event&)> m_handler;
};
