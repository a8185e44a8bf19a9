#include "platform/VirtualKeys.h"

#include <array>
#include <utility>

namespace VirtualKey {

const std::set<std::int64_t>& functionKeyCodes() {
    static const std::set<std::int64_t> codes = {f1,  f2,  f3,  f4,  f5,  f6,  f7,  f8,  f9,  f10,
                                                 f11, f12, f13, f14, f15, f16, f17, f18, f19, f20};
    return codes;
}

const std::set<std::int64_t>& keypadKeyCodes() {
    static const std::set<std::int64_t> codes = {
        keypad0,    keypad1,     keypad2,      keypad3,     keypad4,       keypad5,
        keypad6,    keypad7,     keypad8,      keypad9,     keypadDecimal, keypadMultiply,
        keypadPlus, keypadClear, keypadDivide, keypadEnter, keypadMinus,   keypadEquals};
    return codes;
}

const std::set<std::int64_t>& functionFlagKeys() {
    static const std::set<std::int64_t> codes = [] {
        std::set<std::int64_t> keys = functionKeyCodes();
        keys.insert({help, deleteForward, keypadClear, home, end, pageUp, pageDown, upArrow,
                     rightArrow, downArrow, leftArrow});
        return keys;
    }();
    return codes;
}

std::optional<Qt::Key> qtKey(std::int64_t virtualKeyCode) {
    static constexpr std::array<std::pair<std::int64_t, Qt::Key>, 15> table{{
        {returnKey, Qt::Key_Return},
        {deleteKey, Qt::Key_Backspace},
        {deleteForward, Qt::Key_Delete},
        {end, Qt::Key_End},
        {escape, Qt::Key_Escape},
        {help, Qt::Key_Help},
        {home, Qt::Key_Home},
        {space, Qt::Key_Space},
        {tab, Qt::Key_Tab},
        {pageUp, Qt::Key_PageUp},
        {pageDown, Qt::Key_PageDown},
        {upArrow, Qt::Key_Up},
        {rightArrow, Qt::Key_Right},
        {downArrow, Qt::Key_Down},
        {leftArrow, Qt::Key_Left},
    }};
    for (const auto& [code, key] : table) {
        if (code == virtualKeyCode)
            return key;
    }
    static constexpr std::array<std::int64_t, 20> functionKeys = {
        f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12, f13, f14, f15, f16, f17, f18, f19, f20};
    for (std::size_t index = 0; index < functionKeys.size(); ++index) {
        if (functionKeys[index] == virtualKeyCode)
            return Qt::Key(Qt::Key_F1 + int(index));
    }
    return std::nullopt;
}

std::optional<QString> usLayoutText(std::int64_t virtualKeyCode) {
    static constexpr std::array<std::pair<std::int64_t, char16_t>, 48> table{{
        {a, u'a'},         {s, u's'},          {d, u'd'},
        {f, u'f'},         {h, u'h'},          {g, u'g'},
        {z, u'z'},         {x, u'x'},          {c, u'c'},
        {v, u'v'},         {b, u'b'},          {q, u'q'},
        {w, u'w'},         {e, u'e'},          {r, u'r'},
        {y, u'y'},         {t, u't'},          {one, u'1'},
        {two, u'2'},       {three, u'3'},      {four, u'4'},
        {six, u'6'},       {five, u'5'},       {equal, u'='},
        {nine, u'9'},      {seven, u'7'},      {minus, u'-'},
        {eight, u'8'},     {zero, u'0'},       {rightBracket, u']'},
        {o, u'o'},         {u, u'u'},          {leftBracket, u'['},
        {i, u'i'},         {p, u'p'},          {l, u'l'},
        {j, u'j'},         {quote, u'\''},     {k, u'k'},
        {semicolon, u';'}, {backslash, u'\\'}, {comma, u','},
        {slash, u'/'},     {n, u'n'},          {m, u'm'},
        {period, u'.'},    {backtick, u'`'},   {isoSection, u'<'},
    }};
    for (const auto& [code, character] : table) {
        if (code == virtualKeyCode)
            return QString(QChar(character));
    }
    return std::nullopt;
}

} // namespace VirtualKey

namespace CarbonModifier {

std::int64_t normalized(std::int64_t virtualKeyCode, std::int64_t mask) {
    std::int64_t result = mask & all;
    if (VirtualKey::functionFlagKeys().contains(virtualKeyCode))
        result &= ~function;
    return result;
}

namespace {
constexpr std::array<std::pair<std::int64_t, Qt::KeyboardModifier>, 4> qtModifierBits{{
    {control, Qt::ControlModifier},
    {option, Qt::AltModifier},
    {shift, Qt::ShiftModifier},
    {command, Qt::MetaModifier},
}};
} // namespace

Qt::KeyboardModifiers qtModifiers(std::int64_t mask) {
    Qt::KeyboardModifiers modifiers;
    for (const auto& [carbon, qt] : qtModifierBits) {
        if (mask & carbon)
            modifiers |= qt;
    }
    return modifiers;
}

std::int64_t fromQt(Qt::KeyboardModifiers modifiers) {
    std::int64_t mask = 0;
    for (const auto& [carbon, qt] : qtModifierBits) {
        if (modifiers & qt)
            mask |= carbon;
    }
    return mask;
}

} // namespace CarbonModifier
