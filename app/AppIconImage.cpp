#include "app/AppIconImage.h"

#include <QIcon>
#include <QPainter>

AppIconImage::AppIconImage(int size, QWidget* parent)
    : QWidget(parent) {
    setFixedSize(size, size);
}

void AppIconImage::paintEvent(QPaintEvent*) {
    static const QIcon icon(QStringLiteral(":/icons/eyedropper.svg"));
    // Our artwork has no margins of its own, so it fills the frame rather than being
    // drawn larger than it (which would clip it at the widget's edge).
    const qreal edge = width();
    const QRectF target((width() - edge) / 2, (height() - edge) / 2, edge, edge);
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QSize pixels = (target.size() * devicePixelRatioF()).toSize();
    QPixmap pixmap = icon.pixmap(pixels);
    pixmap.setDevicePixelRatio(devicePixelRatioF());
    painter.drawPixmap(target, pixmap, QRectF(pixmap.rect()));
}
