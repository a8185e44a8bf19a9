#pragma once

// Mirrors the state of Daubly's login item and changes it. Each view that shows it owns
// its own instance; the truth is the desktop's autostart entry, re-read on refresh().

#include "platform/Logger.h"

#include <QObject>

class LoginItemService;

class LaunchAtLogin : public QObject {
    Q_OBJECT

public:
    // Reads the item's state at once.
    explicit LaunchAtLogin(LoginItemService& service, QObject* parent = nullptr);

    bool isEnabled() const { return m_isEnabled; }
    // Registered, but turned off in the desktop's own autostart settings: the switch
    // reads on and the user is asked to turn it on there.
    bool requiresApproval() const { return m_requiresApproval; }

    void refresh();
    // Registers or unregisters; a failure is logged, and the flags then show what the
    // desktop reports, so a switch bound to them springs back.
    void setEnabled(bool enabled);

Q_SIGNALS:
    void isEnabledChanged(bool isEnabled);
    void requiresApprovalChanged(bool requiresApproval);

private:
    LoginItemService& m_service;
    bool m_isEnabled = false;
    bool m_requiresApproval = false;
    Logger m_logger{"LaunchAtLogin"};
};
