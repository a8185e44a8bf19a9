#include "backends/linux/KeysymNames.h"

#include "platform/VirtualKeys.h"

#include <array>
#include <map>
#include <utility>

namespace {

// Modifier words as the portal's and the desktops' texts write them, in lower case.
constexpr std::array<std::pair<const char*, std::int64_t>, 11> modifierWords{{
    {"ctrl", CarbonModifier::control},
    {"control", CarbonModifier::control},
    {"primary", CarbonModifier::control},
    {"alt", CarbonModifier::option},
    {"mod1", CarbonModifier::option},
    {"shift", CarbonModifier::shift},
    {"logo", CarbonModifier::command},
    {"super", CarbonModifier::command},
    {"meta", CarbonModifier::command},
    {"mod4", CarbonModifier::command},
    {"win", CarbonModifier::command},
}};

// Keysym names of the keys that give no character, or whose character is no keysym name.
const std::map<std::int64_t, QString>& keysymNames() {
    using namespace VirtualKey;
    static const std::map<std::int64_t, QString> names = [] {
        std::map<std::int64_t, QString> table{
            {returnKey, u"Return"_qs},
            {tab, u"Tab"_qs},
            {space, u"space"_qs},
            {deleteKey, u"BackSpace"_qs},
            {escape, u"Escape"_qs},
            {deleteForward, u"Delete"_qs},
            {help, u"Insert"_qs}, // the key in that place on a PC keyboard
            {home, u"Home"_qs},
            {end, u"End"_qs},
            {pageUp, u"Page_Up"_qs},
            {pageDown, u"Page_Down"_qs},
            {leftArrow, u"Left"_qs},
            {rightArrow, u"Right"_qs},
            {upArrow, u"Up"_qs},
            {downArrow, u"Down"_qs},
            {keypadDecimal, u"KP_Decimal"_qs},
            {keypadMultiply, u"KP_Multiply"_qs},
            {keypadPlus, u"KP_Add"_qs},
            {keypadMinus, u"KP_Subtract"_qs},
            {keypadDivide, u"KP_Divide"_qs},
            {keypadEnter, u"KP_Enter"_qs},
            {keypadEquals, u"KP_Equal"_qs},
            {volumeUp, u"XF86AudioRaiseVolume"_qs},
            {volumeDown, u"XF86AudioLowerVolume"_qs},
            {mute, u"XF86AudioMute"_qs},
            {equal, u"equal"_qs},
            {minus, u"minus"_qs},
            {leftBracket, u"bracketleft"_qs},
            {rightBracket, u"bracketright"_qs},
            {quote, u"apostrophe"_qs},
            {semicolon, u"semicolon"_qs},
            {backslash, u"backslash"_qs},
            {comma, u"comma"_qs},
            {slash, u"slash"_qs},
            {period, u"period"_qs},
            {backtick, u"grave"_qs},
            {isoSection, u"less"_qs},
        };
        constexpr std::int64_t functionKeys[] = {f1,  f2,  f3,  f4,  f5,  f6,  f7,  f8,  f9,  f10,
                                                 f11, f12, f13, f14, f15, f16, f17, f18, f19, f20};
        for (int index = 0; index < 20; ++index)
            table[functionKeys[index]] = QStringLiteral("F%1").arg(index + 1);
        constexpr std::int64_t keypadDigits[] = {keypad0, keypad1, keypad2, keypad3, keypad4,
                                                 keypad5, keypad6, keypad7, keypad8, keypad9};
        for (int digit = 0; digit < 10; ++digit)
            table[keypadDigits[digit]] = QStringLiteral("KP_%1").arg(digit);
        return table;
    }();
    return names;
}

} // namespace

std::optional<QString> KeysymNames::keyName(std::int64_t keyCode) {
    if (const auto it = keysymNames().find(keyCode); it != keysymNames().end())
        return it->second;
    // Letters and digits: the character is the keysym name.
    return VirtualKey::usLayoutText(keyCode);
}

namespace {

// Names of keys as desktops write them, for reading texts back ("PgUp", "Esc").
constexpr std::array<std::pair<const char*, std::int64_t>, 6> keyAliases{{
    {"esc", VirtualKey::escape},
    {"del", VirtualKey::deleteForward},
    {"ins", VirtualKey::help},
    {"pgup", VirtualKey::pageUp},
    {"pgdown", VirtualKey::pageDown},
    {"enter", VirtualKey::returnKey},
}};

} // namespace

std::optional<std::int64_t> KeysymNames::keyCodeNamed(const QString& name) {
    QString wanted = name.trimmed();
    wanted.replace(u' ', u'_');
    for (const auto& [code, keysym] : keysymNames()) {
        if (keysym.compare(wanted, Qt::CaseInsensitive) == 0)
            return code;
    }
    for (std::int64_t code = 0; code < 128; ++code) {
        if (const auto text = VirtualKey::usLayoutText(code);
            text && !keysymNames().contains(code) &&
            text->compare(wanted, Qt::CaseInsensitive) == 0)
            return code;
    }
    for (const auto& [alias, code] : keyAliases) {
        if (wanted.compare(QLatin1String(alias), Qt::CaseInsensitive) == 0)
            return code;
    }
    return std::nullopt;
}

std::optional<std::int64_t> KeysymNames::modifierNamed(const QString& name) {
    const QString word = name.trimmed();
    for (const auto& [known, carbon] : modifierWords) {
        if (word.compare(QLatin1String(known), Qt::CaseInsensitive) == 0)
            return carbon;
    }
    return std::nullopt;
}
