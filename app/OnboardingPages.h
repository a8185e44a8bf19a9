#pragma once

// The three onboarding pages and the permission card, and the setup page's rows.
// Each page is built anew when it comes on screen and dropped when it leaves.

#include "KeyboardShortcuts/Recorder.h"
#include "app/OnboardingComponents.h"
#include "app/ScreenRecordingPermission.h"

#include <QWidget>
#include <functional>
#include <memory>

class ApplicationActivation;
class DesktopShortcutEntry;
class DesktopShortcutOffer;
class FormatPicker;
class LaunchAtLogin;
class LoginItemService;
class QVBoxLayout;
class UserDefaults;

class OnboardingPage : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;

    // The page came on screen / left it; the view calls each once per appearance.
    virtual void appeared() {}
    virtual void disappeared() {}
    // What Return presses while this page is shown, if anything.
    virtual QAbstractButton* defaultButton() const { return nullptr; }
};

class WelcomePage : public OnboardingPage {
    Q_OBJECT

public:
    explicit WelcomePage(std::function<void()> start, QWidget* parent = nullptr);
    QAbstractButton* defaultButton() const override { return m_getStarted; }

private:
    CapsuleButton* m_getStarted;
};

// The permission status with what the user can do about it; follows the model.
class PermissionCard : public OnboardingCard {
    Q_OBJECT

public:
    explicit PermissionCard(ScreenRecordingPermission& permission, QWidget* parent = nullptr);

    QString title() const;
    QString detail() const;
    QString symbolName() const;
    // The action buttons on show, top to bottom.
    QList<QAbstractButton*> actions() const;

private:
    void showStatus(ScreenRecordingPermission::Status status, bool animated);

    ScreenRecordingPermission& m_permission;
    QWidget* m_content;
    SymbolView* m_symbol;
    QLabel* m_title;
    QLabel* m_detail;
    QWidget* m_actions;
};

class PermissionPage : public OnboardingPage {
    Q_OBJECT

public:
    explicit PermissionPage(ScreenRecordingPermission& permission, QWidget* parent = nullptr);
    ~PermissionPage() override;

    // Monitoring runs exactly while the page is on screen.
    void appeared() override;
    void disappeared() override;
    PermissionCard* card() const { return m_card; }

private:
    ScreenRecordingPermission& m_permission;
    PermissionCard* m_card;
    bool m_monitoring = false;
};

// What the setup page's rows need from the rest of the program.
struct SetupServices {
    UserDefaults& defaults;
    LoginItemService& loginItems;
    ApplicationActivation& activation;
    // The pick shortcut, and the recorder's registry and surroundings.
    KeyboardShortcuts::Name pickShortcut;
    KeyboardShortcuts::Recorder::Environment recorderEnvironment;
    // The pick shortcut in the desktop's own keyboard shortcuts; null: not offered.
    DesktopShortcutEntry* desktopShortcut = nullptr;
};

// The pick shortcut: its recorder and a button back to Alt+C.
class ShortcutCardRow : public OnboardingCardRow {
    Q_OBJECT

public:
    explicit ShortcutCardRow(const SetupServices& services, QWidget* parent = nullptr);
    KeyboardShortcuts::Recorder* recorder() const { return m_recorder; }
    QAbstractButton* resetButton() const { return m_reset; }

private:
    KeyboardShortcuts::Recorder* m_recorder;
    CapsuleButton* m_reset;
};

// "Open at login" over the row's own login-item model, refreshed whenever the row comes
// on screen and whenever Daubly becomes active (the user may have changed it in the
// desktop's settings meanwhile).
class LaunchAtLoginCardRow : public OnboardingCardRow {
    Q_OBJECT

public:
    LaunchAtLoginCardRow(LoginItemService& loginItems, ApplicationActivation& activation,
                         QWidget* parent = nullptr);
    ~LaunchAtLoginCardRow() override;

    void refresh();
    LaunchAtLogin& launchAtLogin() const { return *m_launchAtLogin; }
    QAbstractButton* toggle() const { return m_toggle; }
    QAbstractButton* openSettingsButton() const { return m_openSettings; }

private:
    void showState();

    std::unique_ptr<LaunchAtLogin> m_launchAtLogin;
    SwitchToggle* m_toggle;
    CapsuleButton* m_openSettings;
};

class SetupPage : public OnboardingPage {
    Q_OBJECT

public:
    explicit SetupPage(const SetupServices& services, QWidget* parent = nullptr);
    void appeared() override;

    ShortcutCardRow* shortcutRow() const { return m_shortcutRow; }
    // Null without a desktop entry.
    DesktopShortcutOffer* desktopShortcutOffer() const { return m_desktopShortcutOffer; }
    LaunchAtLoginCardRow* launchAtLoginRow() const { return m_launchAtLoginRow; }
    FormatPicker* formatPicker() const { return m_formatPicker; }

private:
    ShortcutCardRow* m_shortcutRow;
    DesktopShortcutOffer* m_desktopShortcutOffer = nullptr;
    LaunchAtLoginCardRow* m_launchAtLoginRow;
    FormatPicker* m_formatPicker;
};
