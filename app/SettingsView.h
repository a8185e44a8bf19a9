#pragma once

// The Settings window's content: a header with the icon, the title and the version,
// then the sections "Screen Recording", "Picker" and "General". 580 points wide and
// exactly as tall as its content.

#include "KeyboardShortcuts/Recorder.h"

#include <QString>
#include <QWidget>
#include <functional>
#include <optional>

class ApplicationActivation;
class CheckForUpdatesViewModel;
class DesktopShortcutEntry;
class LoginItemService;
class ScreenRecordingPermission;
class UserDefaults;

// "Daubly 1.0 (1)": the version and build number; a missing one reads "?".
QString versionLine(const std::optional<QString>& version, const std::optional<QString>& build);
// The running build's.
QString versionLine();

class SettingsView : public QWidget {
    Q_OBJECT

public:
    static constexpr int fixedWidth = 580;

    struct Services {
        UserDefaults& defaults;
        ScreenRecordingPermission& permission;
        CheckForUpdatesViewModel& checkForUpdates;
        LoginItemService& loginItems;
        ApplicationActivation& activation;
        KeyboardShortcuts::Name shortcutName;
        KeyboardShortcuts::Recorder::Environment recorder;
        // "Show…" of the welcome-screen row: the introduction again.
        std::function<void()> showIntroduction;
        // The pick shortcut in the desktop's own keyboard shortcuts; null: not offered.
        DesktopShortcutEntry* desktopShortcut = nullptr;
    };

    explicit SettingsView(Services services, QWidget* parent = nullptr);

    // The height the content needs at the fixed width.
    int contentHeight() const;

protected:
    bool event(QEvent* event) override;
};
