// The pick shortcut as an entry of the desktop's own keyboard shortcuts: when it is
// offered, the click that adds it, how it follows the recorder, and the button on the
// Settings row and the onboarding setup page. The desktop is a fake list.

#include "app/DesktopShortcutEntry.h"
#include "app/OnboardingPages.h"
#include "app/PreferenceRows.h"
#include "platform/UserDefaults.h"
#include "support/OnboardingFakes.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using KeyboardShortcuts::Key;
namespace ModifierFlag = KeyboardShortcuts::ModifierFlag;
using KeyboardShortcuts::Shortcut;
using Trigger = DesktopKeybindings::Trigger;

const QStringList pickCommand{QStringLiteral("/usr/bin/daubly"), QStringLiteral("--pick")};
const Trigger altC{8, 0x800};
const Trigger controlShiftK{40, 0x1000 | 0x200};

struct EntryFixture {
    EntryFixture()
        : setup(defaults) {}

    DesktopShortcutEntry& entry() {
        if (!m_entry)
            m_entry = std::make_unique<DesktopShortcutEntry>(DesktopShortcutEntry::Services{
                hasKeybindings ? &keybindings : nullptr, [this] { return desktopBinds; },
                setup.registry, setup.notifications, setup.name, pickCommand});
        return *m_entry;
    }
    void setShortcut(std::optional<Shortcut> shortcut) {
        setup.registry.setShortcut(shortcut, setup.name);
    }

    QTemporaryDir dir;
    UserDefaults defaults{dir.path() + "/defaults.json"};
    SetupFakes setup;
    FakeDesktopKeybindings keybindings;
    bool hasKeybindings = true;
    bool desktopBinds = false;

private:
    std::unique_ptr<DesktopShortcutEntry> m_entry;
};

TEST(DesktopShortcutEntryTest, IsOfferedOnlyWhereTheDesktopKeepsAListAndBindsNothingItself) {
    const struct {
        const char* name;
        bool hasKeybindings;
        bool available;
        bool desktopBinds;
        bool offered;
    } cases[] = {
        {"no list", false, false, false, false},
        {"list not installed", true, false, false, false},
        {"a shortcuts portal", true, true, true, false},
        {"GNOME without a portal", true, true, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EntryFixture f;
        f.hasKeybindings = c.hasKeybindings;
        f.keybindings.isAvailable = c.available;
        f.desktopBinds = c.desktopBinds;
        EXPECT_EQ(f.entry().isOffered(), c.offered);
        EXPECT_EQ(f.entry().add(), c.offered);
        EXPECT_EQ(f.keybindings.adds, c.offered ? 1 : 0) << "nothing written unless offered";
    }
}

TEST(DesktopShortcutEntryTest, TheClickAddsOneEntryThatFollowsTheRecorder) {
    EntryFixture f;
    DesktopShortcutEntry& entry = f.entry();
    // Nothing is written before the user asks.
    f.setShortcut(Shortcut(Key::k, ModifierFlag::control | ModifierFlag::shift));
    f.setShortcut(Shortcut(Key::c, ModifierFlag::option));
    EXPECT_EQ(f.keybindings.adds + f.keybindings.updates + f.keybindings.removes, 0);
    EXPECT_FALSE(entry.isAdded());

    ASSERT_TRUE(entry.add());
    ASSERT_TRUE(f.keybindings.entry);
    EXPECT_EQ(f.keybindings.entry->command, pickCommand);
    EXPECT_EQ(f.keybindings.entry->trigger, altC);
    EXPECT_FALSE(f.keybindings.entry->name.isEmpty());
    EXPECT_TRUE(entry.isAdded());

    // A new shortcut rewrites the same entry; the name the user gave it there stays.
    f.keybindings.entry->name = QStringLiteral("My picker");
    f.setShortcut(Shortcut(Key::k, ModifierFlag::control | ModifierFlag::shift));
    EXPECT_EQ(f.keybindings.adds, 1);
    EXPECT_EQ(f.keybindings.entry->trigger, controlShiftK);
    EXPECT_EQ(f.keybindings.entry->name, "My picker");
    // The reset button goes the same way.
    f.setup.registry.resetShortcuts({f.setup.name});
    EXPECT_EQ(f.keybindings.entry->trigger, altC);

    // Clearing the shortcut removes the entry; recording one again brings it back.
    f.setShortcut(std::nullopt);
    EXPECT_FALSE(f.keybindings.entry);
    EXPECT_FALSE(entry.isAdded());
    EXPECT_FALSE(entry.canAdd());
    f.setShortcut(Shortcut(Key::k, ModifierFlag::control | ModifierFlag::shift));
    ASSERT_TRUE(f.keybindings.entry);
    EXPECT_EQ(f.keybindings.entry->trigger, controlShiftK);
    EXPECT_EQ(f.keybindings.adds, 2);

    // Removed by the user in the desktop's settings: it stays removed.
    f.keybindings.entry.reset();
    f.setShortcut(Shortcut(Key::c, ModifierFlag::option));
    EXPECT_FALSE(f.keybindings.entry);
    EXPECT_EQ(f.keybindings.adds, 2);
    // Until the user asks again.
    EXPECT_TRUE(entry.add());
    EXPECT_EQ(f.keybindings.entry->trigger, altC);
}

TEST(DesktopShortcutEntryTest, WithoutAShortcutOrWhenTheDesktopRefusesNothingIsAdded) {
    EntryFixture f;
    f.setShortcut(std::nullopt);
    EXPECT_FALSE(f.entry().canAdd());
    EXPECT_FALSE(f.entry().add());
    EXPECT_EQ(f.keybindings.adds, 0);

    f.setShortcut(Shortcut(Key::c, ModifierFlag::option));
    f.keybindings.failing = true;
    EXPECT_FALSE(f.entry().add());
    EXPECT_FALSE(f.entry().isAdded());
}

// The offer as either window shows it: the button until the entry is there, then a line.
struct OfferCase {
    const char* name;
    std::function<DesktopShortcutOffer*(EntryFixture&, std::unique_ptr<QWidget>&)> make;
};

class DesktopShortcutOfferTest : public ::testing::TestWithParam<OfferCase> {};

TEST_P(DesktopShortcutOfferTest, TheButtonAddsTheEntryAndGivesWayToALine) {
    EntryFixture f;
    std::unique_ptr<QWidget> host;
    DesktopShortcutOffer* offer = GetParam().make(f, host);
    ASSERT_TRUE(offer);
    host->show();
    ASSERT_TRUE(offer->isVisible());
    QAbstractButton* button = offer->button();
    EXPECT_EQ(button->text(), "Add to GNOME Keyboard Shortcuts");
    EXPECT_EQ(button->accessibleName(), button->text());
    EXPECT_TRUE(button->isVisible());
    EXPECT_TRUE(button->isEnabled());
    EXPECT_FALSE(offer->addedLabel()->isVisible());

    button->click();
    ASSERT_TRUE(f.keybindings.entry);
    EXPECT_EQ(f.keybindings.entry->trigger, altC);
    EXPECT_FALSE(button->isVisible());
    EXPECT_TRUE(offer->addedLabel()->isVisible());
    EXPECT_EQ(offer->addedLabel()->text(), "Listed in GNOME Keyboard Shortcuts.");

    // Removed in the desktop's settings meanwhile: the button is back when shown again.
    f.keybindings.entry.reset();
    host->hide();
    host->show();
    EXPECT_TRUE(button->isVisible());
    // Nothing to add without a shortcut.
    f.setShortcut(std::nullopt);
    EXPECT_FALSE(button->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Windows, DesktopShortcutOfferTest,
    ::testing::Values(OfferCase{"settingsRow",
                                [](EntryFixture& f, std::unique_ptr<QWidget>& host) {
                                    auto* row = new ShortcutRow(
                                        f.setup.name, f.setup.services().recorderEnvironment,
                                        &f.entry());
                                    host.reset(row);
                                    return row->desktopShortcutOffer();
                                }},
                      OfferCase{"setupPage",
                                [](EntryFixture& f, std::unique_ptr<QWidget>& host) {
                                    SetupServices services = f.setup.services();
                                    services.desktopShortcut = &f.entry();
                                    auto* page = new SetupPage(services);
                                    host.reset(page);
                                    return page->desktopShortcutOffer();
                                }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DesktopShortcutOfferTest, NotOfferedIsNotShown) {
    EntryFixture f;
    f.desktopBinds = true;
    ShortcutRow row(f.setup.name, f.setup.services().recorderEnvironment, &f.entry());
    row.show();
    ASSERT_TRUE(row.desktopShortcutOffer());
    EXPECT_FALSE(row.desktopShortcutOffer()->isVisible());
    // Rows made without an entry have no offer at all.
    EXPECT_FALSE(
        ShortcutRow(f.setup.name, f.setup.services().recorderEnvironment).desktopShortcutOffer());
}

} // namespace
