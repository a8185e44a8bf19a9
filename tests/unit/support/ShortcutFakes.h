#pragma once

// Fakes of the services the shortcut subsystem takes: a hot key service that records
// registrations and can be told to refuse some, a scheduler run by hand on a fake clock,
// a keyboard layout that tests can switch, and the desktop's own list of shortcuts.

#include "platform/DesktopKeybindings.h"
#include "platform/HotKeyService.h"
#include "platform/KeyboardLayout.h"
#include "platform/Scheduler.h"
#include "support/FakeScheduler.h"

#include <QKeyEvent>
#include <algorithm>
#include <map>
#include <set>
#include <utility>

class FakeHotKeyService final : public HotKeyService {
public:
    struct Registered {
        std::uint32_t keyCode;
        std::uint32_t modifiers;
        HotKeyID id;
    };

    Registration registerHotKey(const Request& request) override {
        ++registerCalls;
        descriptions.push_back(request.description);
        const auto [keyCode, modifiers] = request.preferredTrigger;
        if (refused.contains({keyCode, modifiers}))
            return {std::nullopt, std::nullopt,
                    QStringLiteral("another application already uses it")};
        // A desktop may bind other keys than the ones asked for.
        const auto chosen = rebinds.find({keyCode, modifiers});
        const Trigger bound = chosen == rebinds.end() ? request.preferredTrigger : chosen->second;
        const Handle handle = ++lastHandle;
        registered[handle] = {bound.keyCode, bound.carbonModifiers, request.id};
        return {handle, bound, {}};
    }
    void unregisterHotKey(Handle handle) override { registered.erase(handle); }
    bool installEventHandler(std::function<bool(const Event&)> h) override {
        handler = std::move(h);
        return true;
    }
    std::vector<SymbolicHotKey> symbolicHotKeys() const override { return symbolic; }
    KeyRepeat keyRepeat() const override { return repeat; }

    bool isRegistered(std::uint32_t keyCode, std::uint32_t modifiers) const {
        return std::any_of(registered.begin(), registered.end(), [&](const auto& entry) {
            return entry.second.keyCode == keyCode && entry.second.modifiers == modifiers;
        });
    }
    // Sends a press or release of a registered combination, as the system would.
    bool send(std::uint32_t keyCode, std::uint32_t modifiers, EventKind kind) {
        for (const auto& [handle, entry] : registered) {
            if (entry.keyCode == keyCode && entry.modifiers == modifiers)
                return handler && handler({entry.id, kind});
        }
        return false;
    }
    bool press(std::uint32_t keyCode, std::uint32_t modifiers) {
        return send(keyCode, modifiers, EventKind::pressed);
    }
    bool release(std::uint32_t keyCode, std::uint32_t modifiers) {
        return send(keyCode, modifiers, EventKind::released);
    }
    bool pressAndRelease(std::uint32_t keyCode, std::uint32_t modifiers) {
        const bool pressed = press(keyCode, modifiers);
        return release(keyCode, modifiers) && pressed;
    }

    std::map<Handle, Registered> registered;
    std::set<std::pair<std::uint32_t, std::uint32_t>> refused;
    std::map<std::pair<std::uint32_t, std::uint32_t>, Trigger> rebinds;
    std::vector<QString> descriptions;
    std::vector<SymbolicHotKey> symbolic;
    KeyRepeat repeat{std::chrono::milliseconds(500), std::chrono::milliseconds(50)};
    std::function<bool(const Event&)> handler;
    int registerCalls = 0;
    Handle lastHandle = 0;
};

class FakeKeyboardLayout final : public KeyboardLayout {
public:
    std::optional<QString> text(std::int64_t keyCode) const override {
        const auto it = keys.find(keyCode);
        return it == keys.end() ? std::nullopt : std::optional(it->second);
    }
    std::optional<std::int64_t> virtualKeyCode(const QKeyEvent& event) const override {
        const auto it = scanCodes.find(event.nativeScanCode());
        return it == scanCodes.end() ? std::nullopt : std::optional(it->second);
    }
    std::map<std::int64_t, QString> keys;
    std::map<quint32, std::int64_t> scanCodes;
};

// A US layout for the keys the tests use.
inline FakeKeyboardLayout usLayout() {
    FakeKeyboardLayout layout;
    layout.keys = {{0, QStringLiteral("a")},  {1, QStringLiteral("s")}, {8, QStringLiteral("c")},
                   {16, QStringLiteral("y")}, {6, QStringLiteral("z")}, {18, QStringLiteral("1")},
                   {44, QStringLiteral("/")}, {87, QStringLiteral("5")}};
    // X11 keycodes: C, F5, left Control, left Alt.
    layout.scanCodes = {{54, 8}, {71, 96}, {37, 59}, {64, 58}};
    return layout;
}

// The desktop's own list of keyboard shortcuts, with room for Daubly's one entry; counts
// what it was asked to do. `entry` is what the desktop has now (a test may remove it as
// the user would in the desktop's settings).
class FakeDesktopKeybindings final : public DesktopKeybindings {
public:
    bool available() const override { return isAvailable; }
    QString desktopName() const override { return QStringLiteral("GNOME"); }
    std::optional<Entry> current() const override { return entry; }
    bool add(const Entry& added) override {
        ++adds;
        if (failing)
            return false;
        entry = added;
        return true;
    }
    bool update(const Entry& updated) override {
        ++updates;
        if (!entry || failing)
            return false;
        entry = updated;
        return true;
    }
    bool remove() override {
        ++removes;
        entry.reset();
        return true;
    }

    bool isAvailable = true;
    bool failing = false;
    std::optional<Entry> entry;
    int adds = 0;
    int updates = 0;
    int removes = 0;
};
