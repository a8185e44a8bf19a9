#pragma once

// The design's neutral key and modifier numbering: the virtual key codes stored in
// shortcuts (they name physical key positions) and the Carbon modifier bits. Every
// backend converts its own key codes and modifier states to and from these; models
// use nothing else.

#include <QString>
#include <Qt>
#include <cstdint>
#include <optional>
#include <set>

namespace VirtualKey {
inline constexpr std::int64_t a = 0, s = 1, d = 2, f = 3, h = 4, g = 5, z = 6, x = 7, c = 8, v = 9,
                              isoSection = 10, b = 11, q = 12, w = 13, e = 14, r = 15, y = 16,
                              t = 17, one = 18, two = 19, three = 20, four = 21, six = 22,
                              five = 23, equal = 24, nine = 25, seven = 26, minus = 27, eight = 28,
                              zero = 29, rightBracket = 30, o = 31, u = 32, leftBracket = 33,
                              i = 34, p = 35, returnKey = 36, l = 37, j = 38, quote = 39, k = 40,
                              semicolon = 41, backslash = 42, comma = 43, slash = 44, n = 45,
                              m = 46, period = 47, tab = 48, space = 49, backtick = 50,
                              deleteKey = 51, escape = 53, rightCommand = 54, command = 55,
                              shift = 56, capsLock = 57, option = 58, control = 59, rightShift = 60,
                              rightOption = 61, rightControl = 62, function = 63, f17 = 64,
                              keypadDecimal = 65, keypadMultiply = 67, keypadPlus = 69,
                              keypadClear = 71, volumeUp = 72, volumeDown = 73, mute = 74,
                              keypadDivide = 75, keypadEnter = 76, keypadMinus = 78, f18 = 79,
                              f19 = 80, keypadEquals = 81, keypad0 = 82, keypad1 = 83, keypad2 = 84,
                              keypad3 = 85, keypad4 = 86, keypad5 = 87, keypad6 = 88, keypad7 = 89,
                              f20 = 90, keypad8 = 91, keypad9 = 92, f5 = 96, f6 = 97, f7 = 98,
                              f3 = 99, f8 = 100, f9 = 101, f11 = 103, f13 = 105, f16 = 106,
                              f14 = 107, f10 = 109, f12 = 111, f15 = 113, help = 114, home = 115,
                              pageUp = 116, deleteForward = 117, f4 = 118, end = 119, f2 = 120,
                              pageDown = 121, f1 = 122, leftArrow = 123, rightArrow = 124,
                              downArrow = 125, upArrow = 126;

// F1 to F20.
const std::set<std::int64_t>& functionKeyCodes();
// The keys of the numeric keypad.
const std::set<std::int64_t>& keypadKeyCodes();
// The function keys plus Help, Forward Delete, keypad Clear, Home, End, Page Up/Down and
// the arrows: keys for which the Function bit does not count when matching.
const std::set<std::int64_t>& functionFlagKeys();

// The text of the key without modifiers on a US keyboard; none for keys that give no
// character there. Names keys where no keyboard layout service answers.
std::optional<QString> usLayoutText(std::int64_t virtualKeyCode);

// The toolkit's key (Qt::Key) of a key that gives no character: Return, Tab, Space, the
// arrows, F1 to F20 and the like. None for character keys (their Qt::Key is their
// character, which depends on the layout) and for the keypad, which Qt does not tell apart.
std::optional<Qt::Key> qtKey(std::int64_t virtualKeyCode);
} // namespace VirtualKey

// Carbon modifier bits (the stored form).
namespace CarbonModifier {
inline constexpr std::int64_t command = 0x100;
inline constexpr std::int64_t shift = 0x200;
inline constexpr std::int64_t alphaLock = 0x400;
inline constexpr std::int64_t option = 0x800;
inline constexpr std::int64_t control = 0x1000;
inline constexpr std::int64_t function = 0x20000;
// The five that take part in a shortcut.
inline constexpr std::int64_t all = command | shift | option | control | function;

// The mask reduced to the five modifiers; the Function bit cleared for the function-flag
// keys. What a hot key backend receives.
std::int64_t normalized(std::int64_t virtualKeyCode, std::int64_t mask);

// The toolkit's modifiers of a mask and back: Control, Option as Alt, Shift, Command as
// Meta (the Super key). Function and the toolkit's keypad flag have no counterpart.
Qt::KeyboardModifiers qtModifiers(std::int64_t mask);
std::int64_t fromQt(Qt::KeyboardModifiers modifiers);
} // namespace CarbonModifier
