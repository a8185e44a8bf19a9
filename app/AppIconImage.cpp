#include "app/AppIconImage.h"

#include "app/OnboardingComponents.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QSvgRenderer>

AppIconImage::AppIconImage(int size, QWidget* parent)
    : QWidget(parent) {
    setFixedSize(size, size);
}

void AppIconImage::paintEvent(QPaintEvent*) {
    const double edge = width() / 0.8;
    const QRectF target((width() - edge) / 2, (height() - edge) / 2, edge, edge);
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::Antialiasing);
    // The running application's icon where one is set, else the one Daubly ships.
    const QIcon windowIcon = QApplication::windowIcon();
    if (!windowIcon.isNull() && !windowIcon.availableSizes().isEmpty()) {
        const QSize pixels = (target.size() * devicePixelRatioF()).toSize();
        QPixmap pixmap = windowIcon.pixmap(pixels);
        pixmap.setDevicePixelRatio(devicePixelRatioF());
        painter.drawPixmap(target, pixmap, QRectF(pixmap.rect()));
        return;
    }
    registerOnboardingResources();
    QSvgRenderer(QStringLiteral(":/onboarding/daubly.svg")).render(&painter, target);
}
