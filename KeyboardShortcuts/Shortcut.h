#pragma once

// A global shortcut: one key plus modifier keys, kept in the stored numeric form (a
// virtual key code and a Carbon modifier mask) so that stored shortcuts keep their
// meaning on every platform. The display text follows the current keyboard layout.

#include "platform/KeyboardLayout.h"
#include "platform/VirtualKeys.h"

#include <QJsonObject>
#include <QKeySequence>
#include <QString>
#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QAction;
class QKeyEvent;
class QMenu;

namespace KeyboardShortcuts {

// The stored modifier bits, from the neutral table.
namespace CarbonModifier = ::CarbonModifier;

// Modifier flags of key events (the toolkit-neutral form). Command is the Super key
// here, Option the Alt key; Function has no counterpart in X11.
using ModifierFlags = std::uint64_t;
namespace ModifierFlag {
inline constexpr ModifierFlags capsLock = 0x10000;
inline constexpr ModifierFlags shift = 0x20000;
inline constexpr ModifierFlags control = 0x40000;
inline constexpr ModifierFlags option = 0x80000;
inline constexpr ModifierFlags command = 0x100000;
inline constexpr ModifierFlags numericPad = 0x200000;
inline constexpr ModifierFlags function = 0x800000;
} // namespace ModifierFlag

// Only Control, Option, Shift, Command and Function take part; other bits are dropped.
ModifierFlags modifierFlags(std::int64_t carbonModifiers);
std::int64_t carbonModifiers(ModifierFlags flags);

// Qt::ControlModifier is Control, AltModifier Option, MetaModifier Command (Super),
// KeypadModifier the numeric pad.
ModifierFlags modifierFlags(Qt::KeyboardModifiers modifiers);
Qt::KeyboardModifiers qtModifiers(ModifierFlags flags);

struct Key {
    std::int64_t rawValue = 0;

    constexpr explicit Key(std::int64_t raw)
        : rawValue(raw) {}
    friend constexpr auto operator<=>(const Key&, const Key&) = default;

    static const Key a, b, c, d, e, f, g, h, i, j, k, l, m, n, o, p, q, r, s, t, u, v, w, x, y, z;
    static const Key zero, one, two, three, four, five, six, seven, eight, nine;
    static const Key capsLock, shift, function, control, option, command, rightCommand, rightOption,
        rightControl, rightShift;
    static const Key returnKey, backslash, backtick, comma, equal, minus, period, quote, semicolon,
        slash, leftBracket, rightBracket, space, tab, pageUp, pageDown, home, end, upArrow,
        rightArrow, downArrow, leftArrow, escape, deleteKey, deleteForward, help, mute, volumeUp,
        volumeDown;
    static const Key f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12, f13, f14, f15, f16, f17,
        f18, f19, f20;
    static const Key keypad0, keypad1, keypad2, keypad3, keypad4, keypad5, keypad6, keypad7,
        keypad8, keypad9, keypadClear, keypadDecimal, keypadDivide, keypadEnter, keypadEquals,
        keypadMinus, keypadMultiply, keypadPlus;
};

// Virtual key codes of the published key-code table.
inline constexpr Key Key::a{VirtualKey::a}, Key::s{VirtualKey::s}, Key::d{VirtualKey::d},
    Key::f{VirtualKey::f}, Key::h{VirtualKey::h}, Key::g{VirtualKey::g}, Key::z{VirtualKey::z},
    Key::x{VirtualKey::x}, Key::c{VirtualKey::c}, Key::v{VirtualKey::v}, Key::b{VirtualKey::b},
    Key::q{VirtualKey::q}, Key::w{VirtualKey::w}, Key::e{VirtualKey::e}, Key::r{VirtualKey::r},
    Key::y{VirtualKey::y}, Key::t{VirtualKey::t}, Key::one{VirtualKey::one},
    Key::two{VirtualKey::two}, Key::three{VirtualKey::three}, Key::four{VirtualKey::four},
    Key::six{VirtualKey::six}, Key::five{VirtualKey::five}, Key::equal{VirtualKey::equal},
    Key::nine{VirtualKey::nine}, Key::seven{VirtualKey::seven}, Key::minus{VirtualKey::minus},
    Key::eight{VirtualKey::eight}, Key::zero{VirtualKey::zero},
    Key::rightBracket{VirtualKey::rightBracket}, Key::o{VirtualKey::o}, Key::u{VirtualKey::u},
    Key::leftBracket{VirtualKey::leftBracket}, Key::i{VirtualKey::i}, Key::p{VirtualKey::p},
    Key::returnKey{VirtualKey::returnKey}, Key::l{VirtualKey::l}, Key::j{VirtualKey::j},
    Key::quote{VirtualKey::quote}, Key::k{VirtualKey::k}, Key::semicolon{VirtualKey::semicolon},
    Key::backslash{VirtualKey::backslash}, Key::comma{VirtualKey::comma},
    Key::slash{VirtualKey::slash}, Key::n{VirtualKey::n}, Key::m{VirtualKey::m},
    Key::period{VirtualKey::period}, Key::tab{VirtualKey::tab}, Key::space{VirtualKey::space},
    Key::backtick{VirtualKey::backtick}, Key::deleteKey{VirtualKey::deleteKey},
    Key::escape{VirtualKey::escape}, Key::rightCommand{VirtualKey::rightCommand},
    Key::command{VirtualKey::command}, Key::shift{VirtualKey::shift},
    Key::capsLock{VirtualKey::capsLock}, Key::option{VirtualKey::option},
    Key::control{VirtualKey::control}, Key::rightShift{VirtualKey::rightShift},
    Key::rightOption{VirtualKey::rightOption}, Key::rightControl{VirtualKey::rightControl},
    Key::function{VirtualKey::function}, Key::f17{VirtualKey::f17},
    Key::keypadDecimal{VirtualKey::keypadDecimal}, Key::keypadMultiply{VirtualKey::keypadMultiply},
    Key::keypadPlus{VirtualKey::keypadPlus}, Key::keypadClear{VirtualKey::keypadClear},
    Key::volumeUp{VirtualKey::volumeUp}, Key::volumeDown{VirtualKey::volumeDown},
    Key::mute{VirtualKey::mute}, Key::keypadDivide{VirtualKey::keypadDivide},
    Key::keypadEnter{VirtualKey::keypadEnter}, Key::keypadMinus{VirtualKey::keypadMinus},
    Key::f18{VirtualKey::f18}, Key::f19{VirtualKey::f19},
    Key::keypadEquals{VirtualKey::keypadEquals}, Key::keypad0{VirtualKey::keypad0},
    Key::keypad1{VirtualKey::keypad1}, Key::keypad2{VirtualKey::keypad2},
    Key::keypad3{VirtualKey::keypad3}, Key::keypad4{VirtualKey::keypad4},
    Key::keypad5{VirtualKey::keypad5}, Key::keypad6{VirtualKey::keypad6},
    Key::keypad7{VirtualKey::keypad7}, Key::f20{VirtualKey::f20}, Key::keypad8{VirtualKey::keypad8},
    Key::keypad9{VirtualKey::keypad9}, Key::f5{VirtualKey::f5}, Key::f6{VirtualKey::f6},
    Key::f7{VirtualKey::f7}, Key::f3{VirtualKey::f3}, Key::f8{VirtualKey::f8},
    Key::f9{VirtualKey::f9}, Key::f11{VirtualKey::f11}, Key::f13{VirtualKey::f13},
    Key::f16{VirtualKey::f16}, Key::f14{VirtualKey::f14}, Key::f10{VirtualKey::f10},
    Key::f12{VirtualKey::f12}, Key::f15{VirtualKey::f15}, Key::help{VirtualKey::help},
    Key::home{VirtualKey::home}, Key::pageUp{VirtualKey::pageUp},
    Key::deleteForward{VirtualKey::deleteForward}, Key::f4{VirtualKey::f4},
    Key::end{VirtualKey::end}, Key::f2{VirtualKey::f2}, Key::pageDown{VirtualKey::pageDown},
    Key::f1{VirtualKey::f1}, Key::leftArrow{VirtualKey::leftArrow},
    Key::rightArrow{VirtualKey::rightArrow}, Key::downArrow{VirtualKey::downArrow},
    Key::upArrow{VirtualKey::upArrow};

// Keys shown by a symbol instead of their character; the order is the table's.
enum class SpecialKey {
    returnKey,
    deleteKey,
    deleteForward,
    end,
    escape,
    help,
    home,
    space,
    tab,
    pageUp,
    pageDown,
    upArrow,
    rightArrow,
    downArrow,
    leftArrow,
    f1,
    f2,
    f3,
    f4,
    f5,
    f6,
    f7,
    f8,
    f9,
    f10,
    f11,
    f12,
    f13,
    f14,
    f15,
    f16,
    f17,
    f18,
    f19,
    f20,
    keypad0,
    keypad1,
    keypad2,
    keypad3,
    keypad4,
    keypad5,
    keypad6,
    keypad7,
    keypad8,
    keypad9,
    keypadClear,
    keypadDecimal,
    keypadDivide,
    keypadEnter,
    keypadEquals,
    keypadMinus,
    keypadMultiply,
    keypadPlus,
};

struct SpecialKeyInfo {
    SpecialKey specialKey;
    std::int64_t keyCode;
    QString displayText;                      // empty for space: localised instead
    std::optional<QString> menuKeyEquivalent; // none for keypad keys
    std::optional<Qt::Key> qtKey;             // none for keypad keys
};

// All 53, in the enumeration's order.
const std::vector<SpecialKeyInfo>& specialKeys();
// From key code to special key; none for other keys.
std::optional<SpecialKey> keyToSpecialKey(std::int64_t keyCode);
const SpecialKeyInfo& info(SpecialKey key);

struct Shortcut {
    std::int64_t carbonKeyCode = 0;
    std::int64_t carbonModifiers = 0;

    // Keeps the key code; the mask is reduced to the five modifier bits.
    Shortcut(std::int64_t keyCode, std::int64_t carbonModifiers);
    explicit Shortcut(Key key, ModifierFlags modifiers = 0);
    // None unless a key press or release of a key the layout knows the virtual key code
    // of; the Function flag never carries over. The overload without a layout uses the
    // configured one.
    static std::optional<Shortcut> fromKeyEvent(const QKeyEvent& event,
                                                const KeyboardLayout& layout);
    static std::optional<Shortcut> fromKeyEvent(const QKeyEvent& event);

    // Both members as they are; none when either is missing or not an integer.
    static std::optional<Shortcut> fromJson(const QJsonObject& object);
    static std::optional<Shortcut> fromJson(const QByteArray& bytes);
    // Compact JSON with "carbonKeyCode" then "carbonModifiers".
    QByteArray toJson() const;

    Key key() const { return Key(carbonKeyCode); }
    ModifierFlags modifiers() const { return modifierFlags(carbonModifiers); }
    std::optional<SpecialKey> specialKey() const { return keyToSpecialKey(carbonKeyCode); }

    // The one character of the key without modifiers in the current layout; none for
    // special keys. The overloads without a layout use the configured one.
    std::optional<QString> keyToCharacter(const KeyboardLayout& layout) const;
    std::optional<QString> keyToCharacter() const;

    // As Linux desktops show it: the modifiers in the order Control, Option, Shift,
    // Command, Function, by their Linux names, then the key, joined by "+" ("Alt+C").
    QString description(const KeyboardLayout& layout) const;
    QString description() const;

    std::optional<QString> menuKeyEquivalent(const KeyboardLayout& layout) const;
    std::optional<QString> menuKeyEquivalent() const;

    // The toolkit's shortcut; none for keypad keys and keys without a character.
    std::optional<QKeySequence> qtShortcut(const KeyboardLayout& layout) const;
    std::optional<QKeySequence> qtShortcut() const;

    // The first action of the menu, depth first through submenus, whose shortcut is this one.
    QAction* matchingMenuItem(const QMenu& menu, const KeyboardLayout& layout) const;
    QAction* matchingMenuItem(const QMenu& menu) const;

    // Whether the desktop already uses this shortcut; F12 alone never counts.
    bool isTakenBySystem(const std::vector<Shortcut>& systemShortcuts) const;
    bool isTakenBySystem() const;

    friend bool operator==(const Shortcut&, const Shortcut&) = default;
    friend auto operator<=>(const Shortcut&, const Shortcut&) = default;
};

// The keyboard layout the overloads without one use; the US layout until configured.
void setKeyboardLayout(const KeyboardLayout* layout);
const KeyboardLayout& keyboardLayout();

// Whether the process runs in an application sandbox (computed once).
bool isSandboxed();

} // namespace KeyboardShortcuts

template <> struct std::hash<KeyboardShortcuts::Shortcut> {
    std::size_t operator()(const KeyboardShortcuts::Shortcut& s) const noexcept {
        return std::hash<std::int64_t>()(s.carbonKeyCode) * 31u ^
               std::hash<std::int64_t>()(s.carbonModifiers);
    }
};

namespace KeyboardShortcuts {

// The shortcuts taken by the desktop, from its (key code, Carbon mask) pairs in order:
// masks reduced to the five modifiers, Function dropped for the function-flag keys.
std::vector<Shortcut>
systemShortcuts(const std::vector<std::pair<std::int64_t, std::int64_t>>& symbolicHotKeys);
// The same from the configured hot key service, computed anew on every call.
std::vector<Shortcut> systemShortcuts();

} // namespace KeyboardShortcuts
