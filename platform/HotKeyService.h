#pragma once

// The system-wide hot key service: registers a key code with a modifier mask (both in
// the stored virtual-key / Carbon form) under an id, and reports presses and releases
// of registered keys through one event handler, on the main thread.

#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class HotKeyService {
public:
    using Handle = std::uint64_t;

    struct HotKeyID {
        std::uint32_t signature = 0;
        std::uint32_t id = 0;
        friend bool operator==(const HotKeyID&, const HotKeyID&) = default;
    };

    enum class EventKind { pressed, released };

    struct Event {
        HotKeyID hotKeyID;
        EventKind kind = EventKind::pressed;
    };

    // A handle on success; otherwise no handle and a text saying why.
    struct Registration {
        std::optional<Handle> handle;
        QString error;
    };

    // One of the desktop's own shortcuts, as far as it can be read.
    struct SymbolicHotKey {
        bool enabled = false;
        std::optional<std::int64_t> keyCode;
        std::optional<std::int64_t> modifiers;
    };

    struct KeyRepeat {
        std::chrono::milliseconds delay{660};
        std::chrono::milliseconds interval{40};
    };

    virtual ~HotKeyService() = default;

    virtual Registration registerHotKey(std::uint32_t keyCode, std::uint32_t carbonModifiers,
                                        HotKeyID id) = 0;
    virtual void unregisterHotKey(Handle handle) = 0;

    // Replaces the handler; it answers whether it handled the event. False when the
    // service cannot deliver events.
    virtual bool installEventHandler(std::function<bool(const Event&)> handler) = 0;

    virtual std::vector<SymbolicHotKey> symbolicHotKeys() const = 0;

    // The desktop's key repeat delay and interval.
    virtual KeyRepeat keyRepeat() const = 0;

    // A service that refuses every registration, saying why: for a desktop without one.
    static HotKeyService& unavailable();
};
