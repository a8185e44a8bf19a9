#pragma once

// A global shortcut: one key plus modifier keys, kept in the stored numeric form (a
// virtual key code and a Carbon modifier mask) so that stored shortcuts keep their
// meaning on every platform. The display text follows the current keyboard layout.

#include "platform/KeyboardLayout.h"

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

// Carbon modifier bits (the stored form).
namespace CarbonModifier {
inline constexpr std::int64_t command = 0x100;
inline constexpr std::int64_t shift = 0x200;
inline constexpr std::int64_t alphaLock = 0x400;
inline constexpr std::int64_t option = 0x800;
inline constexpr std::int64_t control = 0x1000;
inline constexpr std::int64_t function = 0x20000;
} // namespace CarbonModifier

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
inline constexpr Key Key::a{0}, Key::s{1}, Key::d{2}, Key::f{3}, Key::h{4}, Key::g{5}, Key::z{6},
    Key::x{7}, Key::c{8}, Key::v{9}, Key::b{11}, Key::q{12}, Key::w{13}, Key::e{14}, Key::r{15},
    Key::y{16}, Key::t{17}, Key::one{18}, Key::two{19}, Key::three{20}, Key::four{21}, Key::six{22},
    Key::five{23}, Key::equal{24}, Key::nine{25}, Key::seven{26}, Key::minus{27}, Key::eight{28},
    Key::zero{29}, Key::rightBracket{30}, Key::o{31}, Key::u{32}, Key::leftBracket{33}, Key::i{34},
    Key::p{35}, Key::returnKey{36}, Key::l{37}, Key::j{38}, Key::quote{39}, Key::k{40},
    Key::semicolon{41}, Key::backslash{42}, Key::comma{43}, Key::slash{44}, Key::n{45}, Key::m{46},
    Key::period{47}, Key::tab{48}, Key::space{49}, Key::backtick{50}, Key::deleteKey{51},
    Key::escape{53}, Key::rightCommand{54}, Key::command{55}, Key::shift{56}, Key::capsLock{57},
    Key::option{58}, Key::control{59}, Key::rightShift{60}, Key::rightOption{61},
    Key::rightControl{62}, Key::function{63}, Key::f17{64}, Key::keypadDecimal{65},
    Key::keypadMultiply{67}, Key::keypadPlus{69}, Key::keypadClear{71}, Key::volumeUp{72},
    Key::volumeDown{73}, Key::mute{74}, Key::keypadDivide{75}, Key::keypadEnter{76},
    Key::keypadMinus{78}, Key::f18{79}, Key::f19{80}, Key::keypadEquals{81}, Key::keypad0{82},
    Key::keypad1{83}, Key::keypad2{84}, Key::keypad3{85}, Key::keypad4{86}, Key::keypad5{87},
    Key::keypad6{88}, Key::keypad7{89}, Key::f20{90}, Key::keypad8{91}, Key::keypad9{92},
    Key::f5{96}, Key::f6{97}, Key::f7{98}, Key::f3{99}, Key::f8{100}, Key::f9{101}, Key::f11{103},
    Key::f13{105}, Key::f16{106}, Key::f14{107}, Key::f10{109}, Key::f12{111}, Key::f15{113},
    Key::help{114}, Key::home{115}, Key::pageUp{116}, Key::deleteForward{117}, Key::f4{118},
    Key::end{119}, Key::f2{120}, Key::pageDown{121}, Key::f1{122}, Key::leftArrow{123},
    Key::rightArrow{124}, Key::downArrow{125}, Key::upArrow{126};

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
    // None unless a key press or release whose native scan code is a known X11 keycode;
    // the Function flag never carries over.
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

// The keyboard layout the overloads without one use; none until configured.
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
