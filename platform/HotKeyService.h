#pragma once

// The system-wide hot key service: registers a shortcut under an id, with a description
// and the trigger wanted (a key code and a modifier mask in the stored virtual-key /
// Carbon form, the mask normalised), and reports presses and releases of registered
// shortcuts through one event handler, on the main thread. An X11 grab binds exactly the
// trigger asked for; a desktop portal may bind other keys, change them later, or refuse.

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

    // A key with modifiers, in the stored form.
    struct Trigger {
        std::uint32_t keyCode = 0;
        std::uint32_t carbonModifiers = 0;
        friend bool operator==(const Trigger&, const Trigger&) = default;
    };

    struct Request {
        HotKeyID id;
        // What the shortcut does, for the desktop's own list of shortcuts.
        QString description;
        Trigger preferredTrigger;
    };

    // `rebound`: the desktop bound other keys to a registered shortcut since (or unbound
    // it: no trigger).
    enum class EventKind { pressed, released, rebound };

    struct Event {
        Event(HotKeyID id, EventKind eventKind, std::optional<Trigger> boundTrigger = std::nullopt)
            : hotKeyID(id)
            , kind(eventKind)
            , trigger(boundTrigger) {}

        HotKeyID hotKeyID;
        EventKind kind = EventKind::pressed;
        std::optional<Trigger> trigger; // rebound only
    };

    // A handle on success, with the trigger actually bound when the service knows it;
    // otherwise no handle and a text saying why.
    struct Registration {
        std::optional<Handle> handle;
        std::optional<Trigger> boundTrigger;
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

    virtual Registration registerHotKey(const Request& request) = 0;
    virtual void unregisterHotKey(Handle handle) = 0;

    // Replaces the handler; it answers whether it handled the event. False when the
    // service cannot deliver events.
    virtual bool installEventHandler(std::function<bool(const Event&)> handler) = 0;

    virtual std::vector<SymbolicHotKey> symbolicHotKeys() const = 0;

    // The desktop's key repeat delay and interval.
    virtual KeyRepeat keyRepeat() const = 0;

    // False where the desktop lets no application bind a global shortcut: registrations
    // fail, and the user binds the pick command in the desktop's own keyboard settings.
    virtual bool isAvailable() const { return true; }

    // Whether another client holds the trigger, tried by registering it for a moment; none
    // where that cannot be told (a desktop that settles conflicts itself).
    virtual std::optional<bool> isTriggerTaken(const Trigger& trigger);

    // A service that refuses every registration, saying why: for a desktop without one.
    static HotKeyService& unavailable();

    // What the user can do where the service is unavailable.
    static QString bindCommandAdvice();
};
