#pragma once

// The one Settings window and the opener that brings it forward. Closing the window
// destroys it and its views; the next "Settings…" builds them anew.

#include "app/SettingsView.h"
#include "platform/Logger.h"

#include <QWidget>
#include <chrono>
#include <functional>
#include <optional>

class Scheduler;

class SettingsWindow : public QWidget {
    Q_OBJECT

public:
    // How the window is found again among the application's windows.
    static constexpr const char* identifier = "daubly_settings_window";

    explicit SettingsWindow(SettingsView::Services services, QWidget* parent = nullptr);
    SettingsView* view() const { return m_view; }

    // The next time the window is on screen, logs how long after `when` that was.
    void markRequested(std::chrono::steady_clock::time_point when) { m_requestedAt = when; }

protected:
    bool event(QEvent* event) override;

private:
    SettingsView* m_view;
    std::optional<std::chrono::steady_clock::time_point> m_requestedAt;
};

// The first window whose identifier is ours or, failing that, whose title ends with
// "Settings"; null when there is none.
QWidget* findSettingsWindow();

struct SettingsWindowOpener {
    Scheduler& scheduler;
    // Creates the window if needed and shows it.
    std::function<void()> openSettings;
    std::function<QWidget*()> findSettingsWindow;
    // Restores, moves to the current workspace and activates the window.
    std::function<void(QWidget*)> bringForward;
};

// Opens the Settings window and looks for it ten times, 50 ms apart; brings it forward
// once found, or logs one error after the last look.
void openSettingsWindow(SettingsWindowOpener opener);

// What the opener does with a found window on this desktop.
class Workspace;
void bringWindowForward(QWidget* window, Workspace& workspace);
