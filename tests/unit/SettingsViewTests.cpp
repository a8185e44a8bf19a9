// The Settings window's views over fake services: the permission rows of each status,
// the approval row of launch at login, the copy-format preview, the reset button, the
// version line, and the opener's ten looks.

#include "app/LaunchAtLogin.h"
#include "app/PreferenceRows.h"
#include "app/ScreenRecordingStatusView.h"
#include "app/SettingsWindow.h"
#include "app/Updates.h"
#include "platform/ApplicationActivation.h"
#include "platform/LoginItemService.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "support/ShortcutFakes.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

class FakeLoginItems final : public LoginItemService {
public:
    Status status() const override { return state; }
    std::optional<QString> registerItem() override {
        state = Status::enabled;
        return std::nullopt;
    }
    std::optional<QString> unregisterItem() override {
        state = Status::notRegistered;
        return std::nullopt;
    }
    bool openSettings() override {
        ++opened;
        return true;
    }
    Status state = Status::notRegistered;
    int opened = 0;
};

// Rows rebuilt in a shown view are shown, and the old ones deleted, from the event loop.
void settle() {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

template <typename T> std::vector<T*> visible(const QWidget& root) {
    std::vector<T*> found;
    for (T* child : root.findChildren<T*>()) {
        if (child->isVisibleTo(&root))
            found.push_back(child);
    }
    return found;
}

std::vector<QString> buttonTexts(const QWidget& root) {
    std::vector<QString> texts;
    for (QPushButton* button : visible<QPushButton>(root))
        texts.push_back(button->text());
    return texts;
}

std::vector<QString> rowTitles(const QWidget& root) {
    std::vector<QString> titles;
    for (SettingsRow* row : visible<SettingsRow>(root))
        titles.push_back(row->titleLabel()->text());
    return titles;
}

class SettingsViewTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    UserDefaults defaults{dir.path() + "/defaults.json"};
    ApplicationActivation activation;
    bool granted = false;
    int relaunches = 0;
};

TEST_F(SettingsViewTest, ThePermissionRowsFollowTheStatus) {
    ScreenRecordingPermission permission(
        defaults, [this] { return granted; }, [] { return false; }, [](const QUrl&) {},
        {[this]() -> std::optional<QString> {
             ++relaunches;
             return QStringLiteral("test");
         },
         {},
         {},
         {}},
        &activation);
    QWidget window;
    auto* view = new ScreenRecordingStatusView(permission, &window);
    window.show();
    EXPECT_EQ(permission.monitorCount(), 1) << "shown: the status is polled";

    EXPECT_EQ(rowTitles(*view), std::vector<QString>{"Screen Recording is not allowed yet"});
    EXPECT_EQ(buttonTexts(*view), std::vector<QString>{"Allow…"});

    visible<QPushButton>(*view).front()->click();
    settle();
    EXPECT_EQ(permission.status(), ScreenRecordingPermission::Status::denied);
    EXPECT_EQ(rowTitles(*view),
              (std::vector<QString>{"Screen Recording is not allowed", "Already allowed it?"}));
    EXPECT_EQ(visible<SettingsDivider>(*view).size(), 1u);
    EXPECT_EQ(buttonTexts(*view),
              (std::vector<QString>{"Open Privacy Settings…", "Quit && Reopen"}));
    visible<QPushButton>(*view).back()->click();
    EXPECT_EQ(relaunches, 1);

    granted = true;
    activation.notifyDidBecomeActive();
    settle();
    EXPECT_EQ(rowTitles(*view), std::vector<QString>{"Screen Recording is allowed"});
    EXPECT_TRUE(buttonTexts(*view).empty());

    window.hide();
    EXPECT_EQ(permission.monitorCount(), 0) << "hidden: no more polling";
    window.show();
    delete view;
    EXPECT_EQ(permission.monitorCount(), 0) << "destroyed while shown: the count is given back";
}

TEST_F(SettingsViewTest, TheApprovalRowShowsWhileTheDesktopHasDaublyTurnedOff) {
    FakeLoginItems items;
    items.state = LoginItemService::Status::requiresApproval;
    LaunchAtLoginRow row(items, activation);
    row.show();
    EXPECT_TRUE(row.toggle()->isChecked()) << "waiting for approval reads as on";
    EXPECT_TRUE(row.isApprovalShown());
    visible<QPushButton>(row).front()->click();
    EXPECT_EQ(items.opened, 1);

    items.state = LoginItemService::Status::enabled; // approved in the desktop's settings
    activation.notifyDidBecomeActive();
    EXPECT_TRUE(row.toggle()->isChecked());
    EXPECT_FALSE(row.isApprovalShown());

    row.toggle()->toggle();
    EXPECT_EQ(items.state, LoginItemService::Status::notRegistered);
    EXPECT_FALSE(row.toggle()->isChecked());
}

TEST_F(SettingsViewTest, TheCopyFormatPreviewFollowsTheChoiceAndTheStore) {
    CopyFormatRow row(defaults);
    EXPECT_EQ(row.picker()->currentText(), QStringLiteral("OKLCH"));
    EXPECT_EQ(row.preview()->accessibleName(), QStringLiteral("Copies oklch(68.04% 0.210 33.69)"));

    const int hex = row.picker()->findText(QStringLiteral("HEX"));
    row.picker()->setCurrentIndex(hex);
    Q_EMIT row.picker()->activated(hex);
    EXPECT_EQ(defaults.stringValue(QStringLiteral("copyFormat")), QStringLiteral("hex"));
    EXPECT_EQ(row.preview()->previewText(), QStringLiteral("#FF5733"));

    defaults.setValue(QStringLiteral("copyFormat"), QStringLiteral("OKLCH")); // not a raw value
    EXPECT_EQ(row.picker()->currentText(), QStringLiteral("OKLCH"));
    EXPECT_EQ(row.preview()->previewText(), QStringLiteral("oklch(68.04% 0.210 33.69)"));
}

TEST_F(SettingsViewTest, ResetGivesBackTheInitialShortcutEvenWhenCleared) {
    FakeHotKeyService service;
    NotificationCenter notifications;
    FakeScheduler scheduler;
    FakeKeyboardLayout layout = usLayout();
    KeyboardShortcuts::setKeyboardLayout(&layout);
    KeyboardShortcuts::Registry registry({service, defaults, notifications, scheduler, layout});
    const KeyboardShortcuts::Shortcut optionC(KeyboardShortcuts::Key::c,
                                              KeyboardShortcuts::ModifierFlag::option);
    const auto name = registry.makeName(QStringLiteral("activatePicker"), optionC);
    KeyboardShortcuts::Recorder::Environment environment;
    environment.registry = &registry;
    environment.notifications = &notifications;

    ShortcutRow row(name, environment);
    EXPECT_EQ(row.resetButton()->toolTip(), QStringLiteral("Reset to Alt+C"));
    EXPECT_EQ(row.resetButton()->accessibleName(), QStringLiteral("Reset to Alt C"));
    registry.setShortcut(std::nullopt, name);
    row.resetButton()->click();
    EXPECT_EQ(registry.getShortcut(name), optionC);
    QCoreApplication::processEvents();
    EXPECT_EQ(row.recorder()->text(), QStringLiteral("Alt+C"));
    KeyboardShortcuts::setKeyboardLayout(nullptr);
}

TEST_F(SettingsViewTest, TheShortcutRowSaysWhatToDoWhereTheDesktopOffersNoGlobalShortcuts) {
    FakeHotKeyService available;
    NotificationCenter notifications;
    FakeScheduler scheduler;
    FakeKeyboardLayout layout = usLayout();
    const std::pair<HotKeyService*, QString> cases[] = {
        {&available, QStringLiteral("Starts the magnifier from any app.")},
        {&HotKeyService::unavailable(), HotKeyService::bindCommandAdvice()},
    };
    for (const auto& [service, detail] : cases) {
        KeyboardShortcuts::Registry registry(
            {*service, defaults, notifications, scheduler, layout});
        KeyboardShortcuts::Recorder::Environment environment;
        environment.registry = &registry;
        environment.notifications = &notifications;
        const ShortcutRow row(registry.makeName(QStringLiteral("activatePicker"), std::nullopt),
                              environment);
        const auto* label = qobject_cast<const QLabel*>(row.detail());
        ASSERT_TRUE(label);
        EXPECT_EQ(label->text(), detail);
    }
    EXPECT_TRUE(HotKeyService::bindCommandAdvice().contains(QStringLiteral("daubly --pick")));
}

TEST(VersionLineTest, MissingPartsReadAsQuestionMarks) {
    EXPECT_EQ(versionLine(QStringLiteral("1.0"), QStringLiteral("1")), "Daubly 1.0 (1)");
    EXPECT_EQ(versionLine(std::nullopt, std::nullopt), "Daubly ? (?)");
    EXPECT_EQ(versionLine(QStringLiteral("2.3"), std::nullopt), "Daubly 2.3 (?)");
}

TEST(SettingsOpenerTest, LooksTenTimesFiftyMillisecondsApart) {
    struct Case {
        const char* name;
        int appearsOnLook; // 0: never
        int looks;
        int broughtForward;
        std::size_t errors;
    } cases[] = {
        {"there at once", 1, 1, 1, 0},
        {"created a little later", 4, 4, 1, 0},
        {"found on the last look", 10, 10, 1, 0},
        {"never", 0, 10, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeScheduler scheduler;
        ScopedLogCapture log;
        QWidget window;
        int looks = 0, opened = 0, forward = 0;
        openSettingsWindow({scheduler, [&] { ++opened; },
                            [&]() -> QWidget* {
                                ++looks;
                                return looks == c.appearsOnLook ? &window : nullptr;
                            },
                            [&](QWidget* found) {
                                EXPECT_EQ(found, &window);
                                ++forward;
                            }});
        scheduler.advance(449ms);
        EXPECT_EQ(looks, std::min(c.looks, 9));
        scheduler.advance(1000ms);
        EXPECT_EQ(opened, 1);
        EXPECT_EQ(looks, c.looks);
        EXPECT_EQ(forward, c.broughtForward);
        EXPECT_EQ(log.messages("Settings").size(), c.errors);
        if (c.errors) {
            EXPECT_EQ(log.messages("Settings").front(),
                      "Settings window not found after openSettings()");
        }
    }
}

TEST(SettingsWindowTest, IsFoundByItsIdentifierAndIsAsTallAsItsContent) {
    QTemporaryDir dir;
    UserDefaults defaults(dir.path() + "/defaults.json");
    ApplicationActivation activation;
    ScreenRecordingPermission permission(
        defaults, [] { return true; }, [] { return true; }, [](const QUrl&) {});
    InertUpdater updater;
    CheckForUpdatesViewModel updates(updater);
    FakeLoginItems items;
    FakeHotKeyService service;
    NotificationCenter notifications;
    FakeScheduler scheduler;
    FakeKeyboardLayout layout = usLayout();
    KeyboardShortcuts::Registry registry({service, defaults, notifications, scheduler, layout});
    KeyboardShortcuts::Recorder::Environment environment;
    environment.registry = &registry;
    environment.notifications = &notifications;
    int introductions = 0;

    EXPECT_EQ(findSettingsWindow(), nullptr);
    auto* window =
        new SettingsWindow({defaults, permission, updates, items, activation,
                            registry.makeName(QStringLiteral("activatePicker"), std::nullopt),
                            environment, [&] { ++introductions; }});
    window->show();
    EXPECT_EQ(findSettingsWindow(), window);
    EXPECT_EQ(window->view()->width(), SettingsView::fixedWidth);
    EXPECT_EQ(window->view()->height(), window->view()->contentHeight());

    const int before = window->view()->height();
    items.state = LoginItemService::Status::requiresApproval;
    activation.notifyDidBecomeActive();
    settle();
    EXPECT_GT(window->view()->height(), before) << "the approval row makes it taller";

    for (QPushButton* button : visible<QPushButton>(*window)) {
        if (button->text() == QStringLiteral("Show…"))
            button->click();
    }
    EXPECT_EQ(introductions, 1);
    int automatic = 0;
    for (ToggleSwitch* toggle : visible<ToggleSwitch>(*window)) {
        if (toggle->accessibleName() != QStringLiteral("Automatically check for updates"))
            continue;
        ++automatic;
        EXPECT_FALSE(toggle->isEnabled()) << "no feed: no automatic checks to turn on";
    }
    EXPECT_EQ(automatic, 1);
    window->close(); // deletes itself
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(findSettingsWindow(), nullptr);
}

} // namespace
