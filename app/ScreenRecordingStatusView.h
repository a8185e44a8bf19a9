#pragma once

// The permission's rows: what the status is and what the user can do about it. While
// shown it keeps the permission model polling, so the rows change by themselves when
// the user allows Daubly elsewhere.

#include "app/ScreenRecordingPermission.h"

#include <QWidget>

class QVBoxLayout;

class ScreenRecordingStatusView : public QWidget {
    Q_OBJECT

public:
    explicit ScreenRecordingStatusView(ScreenRecordingPermission& permission,
                                       QWidget* parent = nullptr);
    ~ScreenRecordingStatusView() override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void rebuild();
    void setMonitoring(bool monitoring);

    ScreenRecordingPermission& m_permission;
    QVBoxLayout* m_rows;
    bool m_monitoring = false;
};
