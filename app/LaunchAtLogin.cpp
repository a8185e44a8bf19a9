#include "app/LaunchAtLogin.h"

#include "platform/LoginItemService.h"

LaunchAtLogin::LaunchAtLogin(LoginItemService& service, QObject* parent)
    : QObject(parent)
    , m_service(service) {
    refresh();
}

void LaunchAtLogin::refresh() {
    using Status = LoginItemService::Status;
    const Status status = m_service.status();
    const bool enabled = status == Status::enabled;
    const bool approval = status == Status::requiresApproval;
    if (enabled != m_isEnabled) {
        m_isEnabled = enabled;
        Q_EMIT isEnabledChanged(enabled);
    }
    if (approval != m_requiresApproval) {
        m_requiresApproval = approval;
        Q_EMIT requiresApprovalChanged(approval);
    }
}

void LaunchAtLogin::setEnabled(bool enabled) {
    const std::optional<QString> error =
        enabled ? m_service.registerItem() : m_service.unregisterItem();
    if (error)
        m_logger.error("Could not update the login item: %{public}s", *error);
    refresh();
}
