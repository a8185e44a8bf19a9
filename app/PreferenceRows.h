#pragma once

// The rows the Settings window and the onboarding setup page share: the copy format
// with its live preview, the pick shortcut with its recorder and reset button, launch
// at login with its approval row, and automatic update checks.

#include "KeyboardShortcuts/Recorder.h"
#include "app/SettingsComponents.h"

#include <QLabel>
#include <memory>

class ApplicationActivation;
class CheckForUpdatesViewModel;
class DesktopShortcutEntry;
class QAbstractButton;
class LaunchAtLogin;
class LoginItemService;
class QComboBox;
class QPushButton;
class QToolButton;
class UserDefaults;

// The colour text of the sample colour in the chosen format, after a small swatch of
// that colour; one accessible element, "Copies <text>".
class CopyPreview : public QLabel {
    Q_OBJECT

public:
    explicit CopyPreview(QWidget* parent = nullptr);
    void setPreviewText(const QString& text);
    const QString& previewText() const { return m_text; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();
    QString m_text;
};

// "Copy format": a pop-up of the eight formats, bound to "copyFormat".
class CopyFormatRow : public SettingsRow {
    Q_OBJECT

public:
    explicit CopyFormatRow(UserDefaults& defaults, QWidget* parent = nullptr);
    QComboBox* picker() const { return m_picker; }
    CopyPreview* preview() const { return m_preview; }

private:
    void showStoredFormat();

    UserDefaults& m_defaults;
    QComboBox* m_picker;
    CopyPreview* m_preview;
};

// The offer to add the pick shortcut to the desktop's own keyboard shortcuts: its button
// until the entry is there, then a line that says so; hidden where nothing is offered.
class DesktopShortcutOffer : public QWidget {
    Q_OBJECT

public:
    // `button` is styled by the host; the offer names it.
    DesktopShortcutOffer(DesktopShortcutEntry& entry, QAbstractButton* button,
                         QWidget* parent = nullptr);
    QAbstractButton* button() const { return m_button; }
    QLabel* addedLabel() const { return m_added; }

protected:
    // The user may have removed the entry in the desktop's settings meanwhile.
    void showEvent(QShowEvent* event) override;

private:
    void showState();

    DesktopShortcutEntry& m_entry;
    QAbstractButton* m_button;
    QLabel* m_added;
};

// "Pick Color shortcut": the recorder for the name, and a button that gives the name
// back its initial shortcut; with `desktopEntry`, its offer under the detail.
class ShortcutRow : public SettingsRow {
    Q_OBJECT

public:
    explicit ShortcutRow(const KeyboardShortcuts::Name& name,
                         KeyboardShortcuts::Recorder::Environment environment =
                             KeyboardShortcuts::Recorder::defaultEnvironment(),
                         DesktopShortcutEntry* desktopEntry = nullptr, QWidget* parent = nullptr);
    KeyboardShortcuts::Recorder* recorder() const { return m_recorder; }
    QToolButton* resetButton() const { return m_reset; }
    // Null without a desktop entry.
    DesktopShortcutOffer* desktopShortcutOffer() const { return m_offer; }

private:
    KeyboardShortcuts::Recorder* m_recorder;
    QToolButton* m_reset;
    DesktopShortcutOffer* m_offer = nullptr;
};

// "Open at login", and "Approval needed" while the desktop's autostart settings have
// Daubly turned off. Re-reads the entry when shown and whenever Daubly becomes active.
class LaunchAtLoginRow : public QWidget {
    Q_OBJECT

public:
    LaunchAtLoginRow(LoginItemService& service, ApplicationActivation& activation,
                     QWidget* parent = nullptr);
    ~LaunchAtLoginRow() override;

    LaunchAtLogin& model() const { return *m_model; }
    ToggleSwitch* toggle() const { return m_toggle; }
    bool isApprovalShown() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void update();

    LoginItemService& m_service;
    std::unique_ptr<LaunchAtLogin> m_model;
    ToggleSwitch* m_toggle;
    QWidget* m_approval;
};

// "Automatically check for updates", bound to the updater's own setting.
class AutomaticUpdatesRow : public SettingsRow {
    Q_OBJECT

public:
    explicit AutomaticUpdatesRow(CheckForUpdatesViewModel& viewModel, QWidget* parent = nullptr);
    ToggleSwitch* toggle() const { return static_cast<ToggleSwitch*>(accessory()); }
};
