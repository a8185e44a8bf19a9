#include "app/ScreenRecordingStatusView.h"

#include "app/SettingsComponents.h"

#include <QLayoutItem>
#include <QPushButton>
#include <QVBoxLayout>

ScreenRecordingStatusView::ScreenRecordingStatusView(ScreenRecordingPermission& permission,
                                                     QWidget* parent)
    : QWidget(parent)
    , m_permission(permission)
    , m_rows(new QVBoxLayout(this)) {
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(0);
    connect(&m_permission, &ScreenRecordingPermission::statusChanged, this,
            &ScreenRecordingStatusView::rebuild);
    rebuild();
}

ScreenRecordingStatusView::~ScreenRecordingStatusView() {
    setMonitoring(false);
}

void ScreenRecordingStatusView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    setMonitoring(true);
}

void ScreenRecordingStatusView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    setMonitoring(false);
}

void ScreenRecordingStatusView::setMonitoring(bool monitoring) {
    // Shown and hidden may come more than once (a minimised window): one count each.
    if (monitoring == m_monitoring)
        return;
    m_monitoring = monitoring;
    if (monitoring)
        m_permission.startMonitoring();
    else
        m_permission.stopMonitoring();
}

void ScreenRecordingStatusView::rebuild() {
    // Later, not now: the button whose click changed the status is still running.
    while (QLayoutItem* item = m_rows->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
    using Status = ScreenRecordingPermission::Status;
    switch (m_permission.status()) {
    case Status::notRequested: {
        auto* allow = new QPushButton(tr("Allow…"));
        allow->setDefault(true);
        connect(allow, &QPushButton::clicked, &m_permission, &ScreenRecordingPermission::request);
        m_rows->addWidget(new SettingsRow(
            tr("Screen Recording is not allowed yet"),
            SettingsStyle::detailLabel(
                tr("Your desktop asks once. Allow Daubly in the dialog that follows.")),
            allow, QStringLiteral("dialog-warning")));
        break;
    }
    case Status::denied: {
        auto* open = new QPushButton(tr("Open Privacy Settings…"));
        connect(open, &QPushButton::clicked, &m_permission,
                &ScreenRecordingPermission::openSystemSettings);
        m_rows->addWidget(new SettingsRow(
            tr("Screen Recording is not allowed"),
            SettingsStyle::detailLabel(
                tr("Allow Daubly to take screenshots in your desktop's privacy settings.")),
            open, QStringLiteral("dialog-error")));
        m_rows->addWidget(new SettingsDivider);
        // "&&": a single & would mark a keyboard mnemonic.
        auto* relaunch = new QPushButton(tr("Quit && Reopen"));
        connect(relaunch, &QPushButton::clicked, &m_permission,
                &ScreenRecordingPermission::relaunch);
        m_rows->addWidget(new SettingsRow(
            tr("Already allowed it?"),
            SettingsStyle::detailLabel(tr("The change applies once Daubly restarts.")), relaunch));
        break;
    }
    case Status::granted:
        m_rows->addWidget(new SettingsRow(
            tr("Screen Recording is allowed"),
            SettingsStyle::detailLabel(tr("Daubly can read the colors on your screen.")), nullptr,
            QStringLiteral("emblem-ok")));
        break;
    }
}
