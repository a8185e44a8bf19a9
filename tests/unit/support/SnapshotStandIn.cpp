// Stand-in reads of a snapshot for the session tests while the capture code is not in
// this tree: the same mapping rules, on 8-bit sRGB images only.

#include "app/DisplaySnapshot.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

std::optional<PixelPoint> DisplaySnapshot::pixel(QPointF point) const {
    const double w = image.width();
    const double h = image.height();
    const QRectF& f = frame;
    if (w <= 0 || h <= 0 || f.width() <= 0 || f.height() <= 0) {
        return std::nullopt;
    }
    if (point.x() < f.x() || point.x() > f.x() + f.width() || point.y() < f.y() ||
        point.y() > f.y() + f.height()) {
        return std::nullopt;
    }
    const auto x = std::int64_t(std::floor(w / f.width() * (point.x() - f.x())));
    const auto y = std::int64_t(std::floor(h / f.height() * (f.y() + f.height() - point.y())));
    return PixelPoint{std::clamp<std::int64_t>(x, 0, std::int64_t(w) - 1),
                      std::clamp<std::int64_t>(y, 0, std::int64_t(h) - 1)};
}

std::optional<PickedColor> DisplaySnapshot::color(PixelPoint p) const {
    if (p.x < 0 || p.y < 0 || p.x >= image.width() || p.y >= image.height()) {
        return std::nullopt;
    }
    const QColor c = image.pixelColor(int(p.x), int(p.y));
    return PickedColor{{srgbDecode(c.redF()), srgbDecode(c.greenF()), srgbDecode(c.blueF())}};
}

std::optional<QImage> DisplaySnapshot::patch(PixelPoint around, int radius) const {
    const int size = 2 * radius + 1;
    QImage result(size, size, QImage::Format_ARGB32_Premultiplied);
    result.fill(Qt::black);
    QPainter painter(&result);
    painter.drawImage(QPointF(-(around.x - radius), -(around.y - radius)), image);
    return result;
}
