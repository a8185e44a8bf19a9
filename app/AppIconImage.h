#pragma once

// The application's icon in a square frame of `size`. The artwork is drawn 1.25 times
// the frame, as application icons carry a transparent margin of their own: the tile
// then fills the frame. Painted, so assistive technology skips it.

#include <QWidget>

class AppIconImage : public QWidget {
    Q_OBJECT

public:
    explicit AppIconImage(int size, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
