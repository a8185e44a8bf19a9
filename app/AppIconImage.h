#pragma once

// The application's icon in a square frame. Painted, so assistive technology skips it.

#include <QWidget>

class AppIconImage : public QWidget {
    Q_OBJECT

public:
    explicit AppIconImage(int size, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
