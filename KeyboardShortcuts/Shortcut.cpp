#include "KeyboardShortcuts/Shortcut.h"

#include "KeyboardShortcuts/HotKey.h"
#include "KeyboardShortcuts/KeyboardShortcuts.h"
#include "KeyboardShortcuts/Localization.h"

#include <QAction>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QMenu>
#include <QTextBoundaryFinder>
#include <cmath>

namespace KeyboardShortcuts {

using namespace Qt::Literals::StringLiterals;

namespace {

struct ModifierBit {
    std::int64_t carbon;
    ModifierFlags flag;
    const char16_t* name; // as Linux desktops show it
};

// The order of the display text.
constexpr ModifierBit modifierBits[] = {
    {CarbonModifier::control, ModifierFlag::control, u"Ctrl"},
    {CarbonModifier::option, ModifierFlag::option, u"Alt"},
    {CarbonModifier::shift, ModifierFlag::shift, u"Shift"},
    {CarbonModifier::command, ModifierFlag::command, u"Super"},
    {CarbonModifier::function, ModifierFlag::function, u"Fn"},
};

const KeyboardLayout* configuredLayout = nullptr;

std::vector<SpecialKeyInfo> makeSpecialKeys() {
    std::vector<SpecialKeyInfo> keys = {
        {SpecialKey::returnKey, 36, u"Return"_s, u"\u21A9"_s, std::nullopt},
        {SpecialKey::deleteKey, 51, u"Backspace"_s, u"\u232B"_s, std::nullopt},
        {SpecialKey::deleteForward, 117, u"Delete"_s, u"\u2326"_s, std::nullopt},
        {SpecialKey::end, 119, u"End"_s, u"\u2198"_s, std::nullopt},
        {SpecialKey::escape, 53, u"Escape"_s, u"\u238B"_s, std::nullopt},
        {SpecialKey::help, 114, u"Help"_s, u"?\u20DD"_s, std::nullopt},
        {SpecialKey::home, 115, u"Home"_s, u"\u2196"_s, std::nullopt},
        {SpecialKey::space, 49, QString(), u" "_s, std::nullopt},
        {SpecialKey::tab, 48, u"Tab"_s, u"\u21E5"_s, std::nullopt},
        {SpecialKey::pageUp, 116, u"Page Up"_s, u"\u21DE"_s, std::nullopt},
        {SpecialKey::pageDown, 121, u"Page Down"_s, u"\u21DF"_s, std::nullopt},
        {SpecialKey::upArrow, 126, u"Up"_s, u"\u2191"_s, std::nullopt},
        {SpecialKey::rightArrow, 124, u"Right"_s, u"\u2192"_s, std::nullopt},
        {SpecialKey::downArrow, 125, u"Down"_s, u"\u2193"_s, std::nullopt},
        {SpecialKey::leftArrow, 123, u"Left"_s, u"\u2190"_s, std::nullopt},
    };
    // F1 to F20: the menu equivalents are the private-use characters U+F704 onwards.
    constexpr std::int64_t functionCodes[] = {122, 120, 99,  118, 96,  97,  98, 100, 101, 109,
                                              103, 111, 105, 107, 113, 106, 64, 79,  80,  90};
    for (int index = 0; index < 20; ++index) {
        const QString character(QChar(char16_t(0xF704 + index)));
        keys.push_back({SpecialKey(int(SpecialKey::f1) + index), functionCodes[index],
                        QStringLiteral("F%1").arg(index + 1), character, std::nullopt});
    }
    constexpr std::int64_t keypadDigitCodes[] = {82, 83, 84, 85, 86, 87, 88, 89, 91, 92};
    for (int digit = 0; digit < 10; ++digit) {
        keys.push_back({SpecialKey(int(SpecialKey::keypad0) + digit), keypadDigitCodes[digit],
                        u"KP "_s + QString::number(digit), std::nullopt, std::nullopt});
    }
    const std::pair<std::int64_t, const char16_t*> keypadOthers[] = {
        {71, u"Clear"}, {65, u"."}, {75, u"/"}, {76, u"Enter"},
        {81, u"="},     {78, u"-"}, {67, u"*"}, {69, u"+"},
    };
    int next = int(SpecialKey::keypadClear);
    for (const auto& [code, name] : keypadOthers) {
        keys.push_back({SpecialKey(next++), code, u"KP "_s + QString::fromUtf16(name), std::nullopt,
                        std::nullopt});
    }
    // The toolkit's keys are the platform's to know.
    for (SpecialKeyInfo& key : keys)
        key.qtKey = VirtualKey::qtKey(key.keyCode);
    return keys;
}

bool isSingleCharacter(const QString& text) {
    if (text.isEmpty())
        return false;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    return finder.toNextBoundary() == text.size();
}

QString capitalized(const QString& text) {
    if (text.isEmpty())
        return text;
    return text.left(1).toUpper() + text.mid(1);
}

// The key equivalent text of a toolkit key: a special key's menu character, or the
// key's character. Qt names letter keys by their upper-case character whether or not
// Shift is held, so without Shift a letter key stands for its lower-case character.
std::optional<QString> keyEquivalentText(QKeyCombination combination) {
    const Qt::Key key = combination.key();
    for (const SpecialKeyInfo& special : specialKeys()) {
        if (special.qtKey == key)
            return special.menuKeyEquivalent;
    }
    const auto code = char32_t(key);
    if (code == 0 || code >= 0x01000000)
        return std::nullopt;
    QString text = QString::fromUcs4(&code, 1);
    if (!combination.keyboardModifiers().testFlag(Qt::ShiftModifier))
        text = text.toLower();
    return text;
}

} // namespace

ModifierFlags modifierFlags(std::int64_t carbon) {
    ModifierFlags flags = 0;
    for (const ModifierBit& bit : modifierBits) {
        if (carbon & bit.carbon)
            flags |= bit.flag;
    }
    return flags;
}

std::int64_t carbonModifiers(ModifierFlags flags) {
    std::int64_t carbon = 0;
    for (const ModifierBit& bit : modifierBits) {
        if (flags & bit.flag)
            carbon |= bit.carbon;
    }
    return carbon;
}

// The toolkit's keypad flag has no Carbon bit; the other modifiers are the platform's.
ModifierFlags modifierFlags(Qt::KeyboardModifiers modifiers) {
    ModifierFlags flags = modifierFlags(CarbonModifier::fromQt(modifiers));
    if (modifiers & Qt::KeypadModifier)
        flags |= ModifierFlag::numericPad;
    return flags;
}

Qt::KeyboardModifiers qtModifiers(ModifierFlags flags) {
    Qt::KeyboardModifiers modifiers = CarbonModifier::qtModifiers(carbonModifiers(flags));
    if (flags & ModifierFlag::numericPad)
        modifiers |= Qt::KeypadModifier;
    return modifiers;
}

const std::vector<SpecialKeyInfo>& specialKeys() {
    static const std::vector<SpecialKeyInfo> keys = makeSpecialKeys();
    return keys;
}

std::optional<SpecialKey> keyToSpecialKey(std::int64_t keyCode) {
    for (const SpecialKeyInfo& special : specialKeys()) {
        if (special.keyCode == keyCode)
            return special.specialKey;
    }
    return std::nullopt;
}

const SpecialKeyInfo& info(SpecialKey key) {
    return specialKeys().at(std::size_t(key));
}

Shortcut::Shortcut(std::int64_t keyCode, std::int64_t carbon)
    : carbonKeyCode(keyCode)
    , carbonModifiers(KeyboardShortcuts::carbonModifiers(modifierFlags(carbon))) {}

Shortcut::Shortcut(Key key, ModifierFlags modifiers)
    : carbonKeyCode(key.rawValue)
    , carbonModifiers(KeyboardShortcuts::carbonModifiers(modifiers)) {}

std::optional<Shortcut> Shortcut::fromKeyEvent(const QKeyEvent& event) {
    return fromKeyEvent(event, keyboardLayout());
}

std::optional<Shortcut> Shortcut::fromKeyEvent(const QKeyEvent& event,
                                               const KeyboardLayout& layout) {
    if (event.type() != QEvent::KeyPress && event.type() != QEvent::KeyRelease)
        return std::nullopt;
    const auto keyCode = layout.virtualKeyCode(event);
    if (!keyCode)
        return std::nullopt;
    // Qt has no Function modifier, so none can carry over.
    return Shortcut(*keyCode, KeyboardShortcuts::carbonModifiers(modifierFlags(event.modifiers())));
}

std::optional<Shortcut> Shortcut::fromJson(const QJsonObject& object) {
    const auto integer = [](const QJsonValue& value) -> std::optional<std::int64_t> {
        if (!value.isDouble())
            return std::nullopt;
        const double number = value.toDouble();
        // Within ±2^63 and without a fraction.
        if (number != std::trunc(number) || std::fabs(number) >= 9.2233720368547758e18)
            return std::nullopt;
        return value.toInteger();
    };
    const auto keyCode = integer(object.value(QLatin1String("carbonKeyCode")));
    const auto modifiers = integer(object.value(QLatin1String("carbonModifiers")));
    if (!keyCode || !modifiers)
        return std::nullopt;
    Shortcut shortcut(*keyCode, 0);
    shortcut.carbonModifiers = *modifiers; // as stored, not reduced
    return shortcut;
}

std::optional<Shortcut> Shortcut::fromJson(const QByteArray& bytes) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return fromJson(document.object());
}

QByteArray Shortcut::toJson() const {
    return QByteArrayLiteral("{\"carbonKeyCode\":") + QByteArray::number(qint64(carbonKeyCode)) +
           QByteArrayLiteral(",\"carbonModifiers\":") +
           QByteArray::number(qint64(carbonModifiers)) + '}';
}

std::optional<QString> Shortcut::keyToCharacter(const KeyboardLayout& layout) const {
    if (specialKey())
        return std::nullopt;
    const std::optional<QString> text = layout.text(carbonKeyCode);
    if (!text || !isSingleCharacter(*text))
        return std::nullopt;
    return text;
}

std::optional<QString> Shortcut::keyToCharacter() const {
    return keyToCharacter(keyboardLayout());
}

QString Shortcut::description(const KeyboardLayout& layout) const {
    // "Ctrl+Alt+Shift+Super+K", as Linux desktops show shortcuts.
    QString text;
    const ModifierFlags flags = modifiers();
    for (const ModifierBit& bit : modifierBits) {
        if (flags & bit.flag)
            text += QString::fromUtf16(bit.name) + u'+';
    }
    if (const auto special = specialKey()) {
        text += *special == SpecialKey::space ? capitalized(localized("space_key"))
                                              : info(*special).displayText;
    } else if (const auto character = keyToCharacter(layout)) {
        text += capitalized(*character);
    } else {
        text += QChar(0xFFFD);
    }
    return text;
}

QString Shortcut::description() const {
    return description(keyboardLayout());
}

std::optional<QString> Shortcut::menuKeyEquivalent(const KeyboardLayout& layout) const {
    if (const auto special = specialKey())
        return info(*special).menuKeyEquivalent;
    return keyToCharacter(layout);
}

std::optional<QString> Shortcut::menuKeyEquivalent() const {
    return menuKeyEquivalent(keyboardLayout());
}

std::optional<QKeySequence> Shortcut::qtShortcut(const KeyboardLayout& layout) const {
    Qt::Key key;
    if (const auto special = specialKey()) {
        const auto qtKey = info(*special).qtKey;
        if (!qtKey)
            return std::nullopt;
        key = *qtKey;
    } else {
        const auto character = keyToCharacter(layout);
        if (!character)
            return std::nullopt;
        // Qt names a character key by its upper-case form.
        const QList<uint> code = character->toUpper().toUcs4();
        if (code.size() != 1)
            return std::nullopt;
        key = Qt::Key(code.front());
    }
    return QKeySequence(QKeyCombination(qtModifiers(modifiers()), key));
}

std::optional<QKeySequence> Shortcut::qtShortcut() const {
    return qtShortcut(keyboardLayout());
}

QAction* Shortcut::matchingMenuItem(const QMenu& menu, const KeyboardLayout& layout) const {
    const std::optional<QString> ownKey = menuKeyEquivalent(layout);
    constexpr ModifierFlags fourModifiers =
        ModifierFlag::control | ModifierFlag::option | ModifierFlag::shift | ModifierFlag::command;
    for (QAction* action : menu.actions()) {
        const QKeySequence sequence = action->shortcut();
        if (ownKey && !sequence.isEmpty()) {
            const QKeyCombination combination = sequence[0];
            std::optional<QString> itemKey = keyEquivalentText(combination);
            ModifierFlags itemFlags = modifierFlags(combination.keyboardModifiers());
            // An upper-case key equivalent implies Shift.
            if ((carbonModifiers & CarbonModifier::shift) && itemKey &&
                *itemKey != itemKey->toLower()) {
                itemKey = itemKey->toLower();
                itemFlags |= ModifierFlag::shift;
            }
            if (itemKey == ownKey) {
                ModifierFlags wanted = modifiers() & fourModifiers;
                if (carbonModifiers & CarbonModifier::function)
                    wanted |= ModifierFlag::function;
                if (itemFlags == wanted)
                    return action;
            }
        }
        if (const QMenu* submenu = action->menu()) {
            if (QAction* found = matchingMenuItem(*submenu, layout))
                return found;
        }
    }
    return nullptr;
}

QAction* Shortcut::matchingMenuItem(const QMenu& menu) const {
    return matchingMenuItem(menu, keyboardLayout());
}

bool Shortcut::isTakenBySystem(const std::vector<Shortcut>& taken) const {
    if (*this == Shortcut(Key::f12))
        return false;
    return std::find(taken.begin(), taken.end(), *this) != taken.end();
}

bool Shortcut::isTakenBySystem() const {
    return isTakenBySystem(systemShortcuts());
}

void setKeyboardLayout(const KeyboardLayout* layout) {
    configuredLayout = layout;
}

const KeyboardLayout& keyboardLayout() {
    return configuredLayout ? *configuredLayout : KeyboardLayout::us();
}

bool isSandboxed() {
    static const bool sandboxed = qEnvironmentVariableIsSet("APP_SANDBOX_CONTAINER_ID");
    return sandboxed;
}

std::vector<Shortcut>
systemShortcuts(const std::vector<std::pair<std::int64_t, std::int64_t>>& symbolicHotKeys) {
    std::vector<Shortcut> shortcuts;
    shortcuts.reserve(symbolicHotKeys.size());
    for (const auto& [keyCode, modifiers] : symbolicHotKeys) {
        Shortcut shortcut(keyCode, modifiers);
        if (functionFlagKeys().contains(keyCode))
            shortcut.carbonModifiers &= ~CarbonModifier::function;
        shortcuts.push_back(shortcut);
    }
    return shortcuts;
}

} // namespace KeyboardShortcuts
