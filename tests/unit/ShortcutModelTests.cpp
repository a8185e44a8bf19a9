#include "KeyboardShortcuts/HotKey.h"
#include "KeyboardShortcuts/Shortcut.h"
#include "support/ShortcutFakes.h"

#include <QAction>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QMenu>
#include <gtest/gtest.h>

using namespace KeyboardShortcuts;
using namespace Qt::Literals::StringLiterals;

namespace {

TEST(ShortcutModelTest, JsonHoldsTheTwoMembersAndReadsBack) {
    const Shortcut optionC(Key::c, ModifierFlag::option);
    EXPECT_EQ(optionC.carbonKeyCode, 8);
    EXPECT_EQ(optionC.carbonModifiers, 2048);
    EXPECT_EQ(optionC.toJson(), QByteArray(R"({"carbonKeyCode":8,"carbonModifiers":2048})"));
    EXPECT_EQ(Shortcut::fromJson(optionC.toJson()), optionC);
    // Either member order; extra members do not matter; the stored mask is kept as is.
    EXPECT_EQ(Shortcut::fromJson(QByteArray(R"({"carbonModifiers":2048,"carbonKeyCode":8})")),
              optionC);
    EXPECT_EQ(Shortcut::fromJson(QByteArray(R"({"carbonKeyCode":8,"carbonModifiers":3072,"x":1})"))
                  ->carbonModifiers,
              3072);
}

TEST(ShortcutModelTest, JsonThatIsNoShortcutReadsAsNone) {
    const char* const cases[] = {
        "",
        "{\"carbonKeyCode\":8",
        "{\"carbonKeyCode\":8}",
        "{\"carbonKeyCode\":\"8\",\"carbonModifiers\":2048}",
        "{\"carbonKeyCode\":8.5,\"carbonModifiers\":2048}",
        "{\"carbonKeyCode\":8,\"carbonModifiers\":null}",
        "{\"carbonKeyCode\":1e300,\"carbonModifiers\":0}",
        "[8,2048]",
    };
    for (const char* json : cases)
        EXPECT_EQ(Shortcut::fromJson(QByteArray(json)), std::nullopt) << json;
}

TEST(ShortcutModelTest, OnlyTheFiveModifiersSurviveAConversion) {
    struct Case {
        std::int64_t mask;
        std::int64_t kept;
    };
    const Case cases[] = {
        {0x800 | 0x400, 0x800},             // caps lock
        {0x1000 | 0x1, 0x1000},             // an unknown low bit
        {0x100 | 0x20000, 0x100 | 0x20000}, // command and function
        {0xFFFFFFFF, 0x100 | 0x200 | 0x800 | 0x1000 | 0x20000},
        {0x0, 0x0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Shortcut(8, c.mask).carbonModifiers, c.kept) << std::hex << c.mask;
        EXPECT_EQ(carbonModifiers(modifierFlags(c.mask)), c.kept) << std::hex << c.mask;
    }
    // Each modifier has its own flag and comes back to its own bit.
    const std::pair<std::int64_t, ModifierFlags> pairs[] = {
        {0x1000, ModifierFlag::control},   {0x800, ModifierFlag::option},
        {0x200, ModifierFlag::shift},      {0x100, ModifierFlag::command},
        {0x20000, ModifierFlag::function},
    };
    for (const auto& [carbon, flag] : pairs) {
        EXPECT_EQ(modifierFlags(carbon), flag);
        EXPECT_EQ(carbonModifiers(flag | ModifierFlag::capsLock | ModifierFlag::numericPad),
                  carbon);
    }
}

TEST(ShortcutModelTest, DisplayTextNamesTheModifiersInOrderBeforeTheKey) {
    const FakeKeyboardLayout layout = usLayout();
    struct Case {
        Shortcut shortcut;
        QString text;
    };
    const Case cases[] = {
        {Shortcut(Key::c, ModifierFlag::option), u"Alt+C"_s},
        {Shortcut(Key::a, ModifierFlag::command | ModifierFlag::shift | ModifierFlag::option |
                              ModifierFlag::control),
         u"Ctrl+Alt+Shift+Super+A"_s},
        {Shortcut(Key::a, ModifierFlag::function), u"Fn+A"_s},
        {Shortcut(Key::space, ModifierFlag::command | ModifierFlag::shift), u"Shift+Super+Space"_s},
        {Shortcut(Key::returnKey), u"Return"_s},
        {Shortcut(Key::deleteKey, ModifierFlag::control), u"Ctrl+Backspace"_s},
        {Shortcut(Key::pageUp), u"Page Up"_s},
        {Shortcut(Key::keypad5), u"KP 5"_s},
        {Shortcut(Key::keypadEnter), u"KP Enter"_s},
        {Shortcut(Key::help), u"Help"_s},
        {Shortcut(Key::f12, ModifierFlag::control), u"Ctrl+F12"_s},
        {Shortcut(Key::slash), u"/"_s},
        {Shortcut(Key::q), u"\uFFFD"_s}, // not in the layout
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.shortcut.description(layout), c.text) << c.text.toStdString();
}

TEST(ShortcutModelTest, WithoutALayoutServiceKeysAreNamedAsOnAUSKeyboard) {
    struct Case {
        Shortcut shortcut;
        QString text;
    };
    const Case cases[] = {
        {Shortcut(Key::c, ModifierFlag::option), u"Alt+C"_s},
        {Shortcut(Key::q, ModifierFlag::control), u"Ctrl+Q"_s},
        {Shortcut(Key::seven), u"7"_s},
        {Shortcut(Key::backtick, ModifierFlag::command), u"Super+`"_s},
        {Shortcut(Key::quote), u"'"_s},
        {Shortcut(Key::f5), u"F5"_s},
        {Shortcut(Key::mute), u"\uFFFD"_s}, // gives no character on any layout
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.shortcut.description(KeyboardLayout::us()), c.text) << c.text.toStdString();
}

TEST(ShortcutModelTest, KeyNamesFollowTheLayoutOfTheMoment) {
    FakeKeyboardLayout layout = usLayout();
    const Shortcut shortcut(Key::y, ModifierFlag::command);
    EXPECT_EQ(shortcut.description(layout), u"Super+Y"_s);
    layout.keys[Key::y.rawValue] = QStringLiteral("z"); // a German layout
    EXPECT_EQ(shortcut.description(layout), u"Super+Z"_s);
    EXPECT_EQ(shortcut.menuKeyEquivalent(layout), QStringLiteral("z"));
    // Return is a symbol whatever the layout.
    layout.keys[Key::returnKey.rawValue] = QStringLiteral("x");
    EXPECT_EQ(Shortcut(Key::returnKey).keyToCharacter(layout), std::nullopt);
    // Keys that give more than one character have none.
    layout.keys[Key::y.rawValue] = QStringLiteral("zz");
    EXPECT_EQ(shortcut.keyToCharacter(layout), std::nullopt);
}

TEST(ShortcutModelTest, SpecialKeysHaveTheirSymbolsAndKeypadKeysNoEquivalents) {
    const FakeKeyboardLayout layout = usLayout();
    ASSERT_EQ(specialKeys().size(), 53u);
    std::set<std::int64_t> codes;
    for (const SpecialKeyInfo& special : specialKeys()) {
        codes.insert(special.keyCode);
        EXPECT_EQ(keyToSpecialKey(special.keyCode), special.specialKey);
        EXPECT_EQ(special.menuKeyEquivalent.has_value(), special.qtKey.has_value());
    }
    EXPECT_EQ(codes.size(), 53u);
    EXPECT_EQ(keyToSpecialKey(Key::c.rawValue), std::nullopt);
    EXPECT_EQ(Shortcut(Key::f1).menuKeyEquivalent(layout), QString(QChar(0xF704)));
    EXPECT_EQ(Shortcut(Key::f20).menuKeyEquivalent(layout), QString(QChar(0xF717)));
    EXPECT_EQ(Shortcut(Key::space).menuKeyEquivalent(layout), QStringLiteral(" "));

    const Shortcut keypad5(Key::keypad5, ModifierFlag::command);
    EXPECT_EQ(keypad5.menuKeyEquivalent(layout), std::nullopt);
    EXPECT_EQ(keypad5.qtShortcut(layout), std::nullopt);
}

TEST(ShortcutModelTest, ToolkitShortcutsCarryTheKeyAndTheModifiers) {
    const FakeKeyboardLayout layout = usLayout();
    EXPECT_EQ(Shortcut(Key::c, ModifierFlag::option | ModifierFlag::control).qtShortcut(layout),
              QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_C));
    EXPECT_EQ(Shortcut(Key::a, ModifierFlag::command).qtShortcut(layout),
              QKeySequence(Qt::META | Qt::Key_A));
    EXPECT_EQ(Shortcut(Key::returnKey, ModifierFlag::shift).qtShortcut(layout),
              QKeySequence(Qt::SHIFT | Qt::Key_Return));
    EXPECT_EQ(Shortcut(Key::f5).qtShortcut(layout), QKeySequence(Qt::Key_F5));
    EXPECT_EQ(Shortcut(Key::q).qtShortcut(layout), std::nullopt); // no character
}

TEST(ShortcutModelTest, MenuItemsAreFoundDepthFirstWithShiftFromTheCase) {
    const FakeKeyboardLayout layout = usLayout();
    QMenu menu;
    QAction* plainS = menu.addAction(QStringLiteral("Save"));
    plainS->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    QMenu* submenu = menu.addMenu(QStringLiteral("More"));
    QAction* upperS = submenu->addAction(QStringLiteral("Save As"));
    // Qt spells an upper-case key equivalent as Shift with the letter.
    upperS->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+S")));
    QAction* pick = submenu->addAction(QStringLiteral("Pick"));
    pick->setShortcut(QKeySequence(Qt::ALT | Qt::Key_C));
    QAction* help = submenu->addAction(QStringLiteral("Help"));
    help->setShortcut(QKeySequence(Qt::Key_F1));

    struct Case {
        Shortcut shortcut;
        QAction* expected;
    };
    const Case cases[] = {
        {Shortcut(Key::s, ModifierFlag::control), plainS},
        {Shortcut(Key::s, ModifierFlag::control | ModifierFlag::shift), upperS},
        {Shortcut(Key::c, ModifierFlag::option), pick},
        {Shortcut(Key::c, ModifierFlag::option | ModifierFlag::shift), nullptr},
        {Shortcut(Key::s, ModifierFlag::command), nullptr},
        {Shortcut(Key::f1), help},
        {Shortcut(Key::f1, ModifierFlag::function), nullptr},
        {Shortcut(Key::keypad5), nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.shortcut.matchingMenuItem(menu, layout), c.expected)
            << c.shortcut.description(layout).toStdString();
    }
}

TEST(ShortcutModelTest, SystemShortcutsNeverTakeF12Alone) {
    FakeHotKeyService service;
    service.symbolic = {
        {true, 111, 0},              // F12
        {true, 111, 0x100},          // Command-F12
        {true, 96, 0x20000 | 0x400}, // Fn-F5 with caps lock: the Function bit does not count
        {true, 0, 0x20000 | 0x100},  // Fn-Command-A keeps its Function bit
        {false, 1, 0x100},           // disabled
        {true, std::nullopt, 0x100}, // no key code
        {true, 2, std::nullopt},     // no modifiers
    };
    const FakeKeyboardLayout layout = usLayout();
    HotKeyCenter center(service, layout);
    const std::vector<Shortcut> taken = systemShortcuts(center.systemSymbolicHotKeys());
    EXPECT_EQ(taken, (std::vector<Shortcut>{Shortcut(111, 0), Shortcut(111, 0x100), Shortcut(96, 0),
                                            Shortcut(0, 0x20100)}));
    EXPECT_FALSE(Shortcut(Key::f12).isTakenBySystem(taken));
    EXPECT_TRUE(Shortcut(Key::f12, ModifierFlag::command).isTakenBySystem(taken));
    EXPECT_TRUE(Shortcut(Key::f5).isTakenBySystem(taken));
    EXPECT_FALSE(Shortcut(Key::s, ModifierFlag::command).isTakenBySystem(taken));
}

TEST(ShortcutModelTest, KeyEventsGiveShortcutsFromTheirKeyPosition) {
    // X11 keycode 54 is the C key, 71 F5, whatever the layout says.
    QKeyEvent altC(QEvent::KeyPress, Qt::Key_C, Qt::AltModifier, 54, 0, 0);
    const FakeKeyboardLayout layout = usLayout();
    EXPECT_EQ(Shortcut::fromKeyEvent(altC, layout), Shortcut(Key::c, ModifierFlag::option));
    QKeyEvent f5(QEvent::KeyRelease, Qt::Key_F5, Qt::KeypadModifier | Qt::MetaModifier, 71, 0, 0);
    EXPECT_EQ(Shortcut::fromKeyEvent(f5, layout), Shortcut(Key::f5, ModifierFlag::command));
    QKeyEvent unknown(QEvent::KeyPress, Qt::Key_C, Qt::NoModifier, 255, 0, 0);
    EXPECT_EQ(Shortcut::fromKeyEvent(unknown, layout), std::nullopt);
    QKeyEvent shortcutOverride(QEvent::ShortcutOverride, Qt::Key_C, Qt::AltModifier, 54, 0, 0);
    EXPECT_EQ(Shortcut::fromKeyEvent(shortcutOverride, layout), std::nullopt);
}

TEST(ShortcutModelTest, FunctionBitCountsOnlyOutsideTheFunctionFlagKeys) {
    EXPECT_EQ(functionFlagKeys().size(), 31u);
    EXPECT_EQ(normalizedModifiers(Key::f5.rawValue, 0x20000), 0);
    EXPECT_EQ(normalizedModifiers(Key::upArrow.rawValue, 0x20000 | 0x100), 0x100);
    EXPECT_EQ(normalizedModifiers(Key::a.rawValue, 0x20000), 0x20000);
    EXPECT_EQ(normalizedModifiers(Key::a.rawValue, 0x400 | 0x800), 0x800);
}

} // namespace
