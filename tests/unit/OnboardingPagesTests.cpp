// The onboarding pages: the permission card in each status and its actions, and the
// copy-format picker with its preview. The permission model runs over fake platform
// functions; the settings are a temporary file.

#include "app/ColorFormatSetting.h"
#include "app/FormatPicker.h"
#include "app/OnboardingPages.h"
#include "app/ScreenRecordingPermission.h"
#include "platform/UserDefaults.h"
#include "support/OnboardingFakes.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using Status = ScreenRecordingPermission::Status;

namespace {

struct PermissionFixture {
    explicit PermissionFixture(Status status)
        : defaults(dir.path() + "/defaults.json")
        , permission(
              defaults,
              [this] {
                  ++preflights;
                  return granted;
              },
              [this] {
                  ++requests;
                  return grantOnRequest;
              },
              [this](const QUrl& url) { opened.push_back(url); },
              {[this] {
                   steps.push_back("launch");
                   return launchError;
               },
               [this] { steps.push_back("terminate"); },
               [this] { steps.push_back("disable shortcut"); },
               [this] { steps.push_back("enable shortcut"); }}) {
        granted = status == Status::granted;
        if (status == Status::denied)
            defaults.setValue(QStringLiteral("didRequestScreenCapture"), true);
        permission.refresh();
    }

    QTemporaryDir dir;
    UserDefaults defaults;
    bool granted = false;
    bool grantOnRequest = false;
    int preflights = 0;
    int requests = 0;
    std::vector<QUrl> opened;
    // What a relaunch did, in order; its launch fails with `launchError` when set.
    std::vector<std::string> steps;
    std::optional<QString> launchError;
    ScreenRecordingPermission permission;
};

QStringList texts(const QList<QAbstractButton*>& buttons) {
    QStringList result;
    for (const QAbstractButton* button : buttons)
        result << button->text();
    return result;
}

} // namespace

TEST(PermissionCardTest, EachStatusHasItsSymbolTextsAndActions) {
    const struct {
        Status status;
        const char* symbol;
        const char* title;
        const char* detail;
        QStringList actions;
    } cases[] = {
        {Status::notRequested,
         "rectangle.dashed.badge.record",
         "Screen Recording is not allowed yet",
         "Your desktop will ask you once. Allow Daubly in the dialog that follows.",
         {"Allow Screen Recording…"}},
        {Status::denied,
         "hand.raised.circle.fill",
         "Screen Recording is turned off",
         "Allow Daubly to take screenshots in your desktop's privacy settings.",
         {"Open Privacy Settings…", "Already allowed? Quit & Reopen"}},
        {Status::granted,
         "checkmark.circle.fill",
         "You're all set",
         "Daubly can read the colors on your screen.",
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        PermissionFixture f(c.status);
        ASSERT_EQ(f.permission.status(), c.status);
        PermissionCard card(f.permission);
        EXPECT_EQ(card.symbolName(), c.symbol);
        EXPECT_EQ(card.title(), c.title);
        EXPECT_EQ(card.detail(), c.detail);
        EXPECT_EQ(texts(card.actions()), c.actions);
    }
}

TEST(PermissionCardTest, ActionsReachTheModelAndTheCardFollowsItsStatus) {
    // A first request the system does not grant at once: denied, and Allow is gone.
    PermissionFixture f(Status::notRequested);
    PermissionCard card(f.permission);
    card.actions().at(0)->click();
    EXPECT_EQ(f.requests, 1);
    EXPECT_EQ(f.permission.status(), Status::denied);
    EXPECT_EQ(texts(card.actions()),
              QStringList({"Open Privacy Settings…", "Already allowed? Quit & Reopen"}));

    card.actions().at(0)->click();
    EXPECT_EQ(f.opened.size(), 1u);
    EXPECT_EQ(f.requests, 1) << "opening the settings asks nothing";

    // Allowed meanwhile in the desktop's settings: green, no buttons.
    f.granted = true;
    f.permission.refresh();
    EXPECT_EQ(card.title(), "You're all set");
    EXPECT_TRUE(card.actions().isEmpty());
}

TEST(PermissionCardTest, QuitAndReopenRelaunchesDaubly) {
    const struct {
        const char* name;
        std::optional<QString> launchError;
        std::vector<std::string> steps;
    } cases[] = {
        {"launched", std::nullopt, {"disable shortcut", "launch", "terminate"}},
        // This instance keeps running, with its shortcut.
        {"launch failed",
         QStringLiteral("No such file or directory"),
         {"disable shortcut", "launch", "enable shortcut"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PermissionFixture f(Status::denied);
        f.launchError = c.launchError;
        PermissionCard card(f.permission);
        ASSERT_EQ(card.actions().size(), 2);
        QAbstractButton* reopen = card.actions().at(1);
        ASSERT_EQ(reopen->text(), "Already allowed? Quit & Reopen");
        reopen->click();
        EXPECT_EQ(f.steps, c.steps);
    }
}

TEST(PermissionPageTest, MonitorsThePermissionExactlyWhileOnScreen) {
    PermissionFixture f(Status::denied);
    auto page = std::make_unique<PermissionPage>(f.permission);
    EXPECT_EQ(f.permission.monitorCount(), 0) << "made is not shown";
    page->appeared();
    page->appeared();
    EXPECT_EQ(f.permission.monitorCount(), 1) << "one start per appearance";
    EXPECT_TRUE(f.permission.isPolling());
    page->disappeared();
    page->disappeared();
    EXPECT_EQ(f.permission.monitorCount(), 0);
    EXPECT_FALSE(f.permission.isPolling());
    // Dropped while on screen: its monitoring ends with it.
    page->appeared();
    page.reset();
    EXPECT_EQ(f.permission.monitorCount(), 0);
}

TEST(FormatPickerTest, ATileStoresItsFormatAndThePreviewFollows) {
    QTemporaryDir dir;
    UserDefaults defaults(dir.path() + "/defaults.json");
    FormatPicker picker(defaults);
    ASSERT_EQ(picker.tiles().size(), allColorFormats.size());
    for (std::size_t i = 0; i < allColorFormats.size(); ++i)
        EXPECT_EQ(picker.tiles()[i]->format(), allColorFormats[i]) << "in the formats' order";
    EXPECT_TRUE(picker.tiles()[0]->isSelected()) << "oklch when nothing is stored";

    for (FormatTile* tile : picker.tiles()) {
        const ColorFormat format = tile->format();
        SCOPED_TRACE(std::string(rawValue(format)));
        tile->click();
        EXPECT_EQ(defaults.stringValue(copyFormatKey), QString::fromUtf8(rawValue(format).data()));
        const QString expected = QString::fromStdString(text(PickedColor::sample(), format));
        EXPECT_EQ(picker.previewText(), expected);
        EXPECT_EQ(picker.preview()->accessibleName(), "Copies " + expected);
        for (FormatTile* other : picker.tiles()) {
            EXPECT_EQ(other->isSelected(), other == tile);
            EXPECT_EQ(other->isChecked(), other == tile) << "the selected trait";
        }
    }
}

TEST(FormatPickerTest, HexPreviewReadsTheSampleAndReselectingChangesNothing) {
    QTemporaryDir dir;
    UserDefaults defaults(dir.path() + "/defaults.json");
    FormatPicker picker(defaults);
    FormatTile* hex = picker.tiles()[1];
    ASSERT_EQ(hex->format(), ColorFormat::hex);
    hex->click();
    EXPECT_EQ(picker.previewText(), "#FF5733");
    EXPECT_EQ(picker.preview()->accessibleName(), "Copies #FF5733");

    QSignalSpy changes(&defaults, &UserDefaults::valueChanged);
    hex->click();
    EXPECT_EQ(changes.count(), 0);
    EXPECT_TRUE(hex->isSelected());

    // A screen reader toggles instead of clicking: on chooses, off changes nothing.
    hex->toggle();
    EXPECT_TRUE(hex->isChecked());
    EXPECT_EQ(changes.count(), 0);
    picker.tiles()[2]->toggle();
    EXPECT_EQ(defaults.stringValue(copyFormatKey), "rgba");
    EXPECT_FALSE(hex->isChecked());
}

TEST(FormatPickerTest, FollowsAChoiceMadeElsewhereAndUnknownValuesMeanOklch) {
    QTemporaryDir dir;
    UserDefaults defaults(dir.path() + "/defaults.json");
    defaults.setValue(copyFormatKey, QStringLiteral("hsl"));
    FormatPicker picker(defaults);
    EXPECT_TRUE(picker.tiles()[3]->isSelected());
    defaults.setValue(copyFormatKey, QStringLiteral("displayP3"));
    EXPECT_TRUE(picker.tiles()[7]->isSelected());
    EXPECT_FALSE(picker.tiles()[3]->isSelected());
    defaults.setValue(copyFormatKey, QStringLiteral("HEX"));
    EXPECT_TRUE(picker.tiles()[0]->isSelected());
    EXPECT_EQ(picker.previewText(),
              QString::fromStdString(text(PickedColor::sample(), ColorFormat::oklch)));
}

TEST(LaunchAtLoginCardRowTest, SwitchButtonAndDetailFollowTheLoginItem) {
    using ItemStatus = LoginItemService::Status;
    const struct {
        const char* name;
        ItemStatus status;
        bool on;
        bool openSettingsShown;
        const char* detail;
    } cases[] = {
        {"not registered", ItemStatus::notRegistered, false, false,
         "Ready in the tray when you log in."},
        {"enabled", ItemStatus::enabled, true, false, "Ready in the tray when you log in."},
        {"waiting for approval: reads on", ItemStatus::requiresApproval, true, true,
         "Turn Daubly on in your desktop's autostart settings to finish."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        UserDefaults defaults(dir.path() + "/defaults.json");
        SetupFakes fakes(defaults);
        fakes.loginItems.current = c.status;
        LaunchAtLoginCardRow row(fakes.loginItems, fakes.activation);
        EXPECT_EQ(row.toggle()->isChecked(), c.on);
        EXPECT_EQ(row.openSettingsButton()->isVisibleTo(&row), c.openSettingsShown);
        EXPECT_EQ(row.detail(), c.detail);
        EXPECT_EQ(row.toggle()->accessibleName(), "Open at login");
    }
}

TEST(LaunchAtLoginCardRowTest, TheSwitchChangesTheItemAndTheRowCatchesUpOnActivation) {
    QTemporaryDir dir;
    UserDefaults defaults(dir.path() + "/defaults.json");
    SetupFakes fakes(defaults);
    LaunchAtLoginCardRow row(fakes.loginItems, fakes.activation);
    row.toggle()->click();
    EXPECT_EQ(fakes.loginItems.registers, 1);
    EXPECT_TRUE(row.toggle()->isChecked());
    // A screen reader's toggle goes through the model as well.
    row.toggle()->toggle();
    EXPECT_EQ(fakes.loginItems.unregisters, 1);
    row.toggle()->toggle();
    EXPECT_EQ(fakes.loginItems.registers, 2);

    // Turned off in the desktop's settings meanwhile: shown when Daubly is active again.
    fakes.loginItems.current = LoginItemService::Status::requiresApproval;
    fakes.activation.notifyDidBecomeActive();
    EXPECT_TRUE(row.openSettingsButton()->isVisibleTo(&row));
    row.openSettingsButton()->click();
    EXPECT_EQ(fakes.loginItems.settingsOpened, 1);

    // Switching off a waiting item unregisters it; a failure springs the switch back.
    row.toggle()->click();
    EXPECT_EQ(fakes.loginItems.unregisters, 2);
    EXPECT_FALSE(row.toggle()->isChecked());
    fakes.loginItems.failure = QStringLiteral("read-only folder");
    row.toggle()->click();
    EXPECT_EQ(fakes.loginItems.registers, 3);
    EXPECT_FALSE(row.toggle()->isChecked());
}

TEST(ShortcutCardRowTest, ResetBringsBackAltC) {
    using namespace KeyboardShortcuts;
    QTemporaryDir dir;
    UserDefaults defaults(dir.path() + "/defaults.json");
    SetupFakes fakes(defaults);
    ShortcutCardRow row(fakes.services());
    EXPECT_EQ(row.resetButton()->accessibleName(), "Reset to Alt C");
    EXPECT_EQ(row.resetButton()->toolTip(), "Reset to Alt+C");
    const Shortcut controlShiftK(Key::k, ModifierFlag::control | ModifierFlag::shift);
    fakes.registry.setShortcut(controlShiftK, fakes.name);
    EXPECT_EQ(row.recorder()->shortcut(), controlShiftK);
    row.resetButton()->click();
    EXPECT_EQ(fakes.registry.getShortcut(fakes.name), Shortcut(Key::c, ModifierFlag::option));
    EXPECT_EQ(row.recorder()->shortcut(), Shortcut(Key::c, ModifierFlag::option));
    EXPECT_EQ(row.recorder()->text(), "Alt+C");
}
