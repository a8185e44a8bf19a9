#include "platform/DisplaySnapshot.h"

#include <QColorSpace>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <memory>

std::optional<PixelPoint> DisplaySnapshot::pixel(QPointF point) const {
    const double w = image.width();
    const double h = image.height();
    if (w <= 0 || h <= 0 || frame.width() <= 0 || frame.height() <= 0) {
        return std::nullopt;
    }
    const double minX = frame.x();
    const double maxX = frame.x() + frame.width();
    const double minY = frame.y();
    const double maxY = frame.y() + frame.height();
    // Written so that a NaN coordinate is outside too. All four edges are inside: a point
    // on the edge two monitors share belongs to both, and the caller takes the first.
    if (!(point.x() >= minX && point.x() <= maxX && point.y() >= minY && point.y() <= maxY)) {
        return std::nullopt;
    }
    // The ratio of pixels to points, never the screen's scale factor: the two may differ.
    // Rows grow downwards while points grow upwards.
    const double column = std::floor(w / frame.width() * (point.x() - minX));
    const double row = std::floor(h / frame.height() * (maxY - point.y()));
    return PixelPoint{
        std::clamp<std::int64_t>(static_cast<std::int64_t>(column), 0, image.width() - 1),
        std::clamp<std::int64_t>(static_cast<std::int64_t>(row), 0, image.height() - 1)};
}

namespace {

enum class WorkingSpace { sRGB, displayP3, extendedLinearSRGB };

WorkingSpace workingSpace(const QColorSpace& space) {
    if (space.isValid() && space == QColorSpace(QColorSpace::SRgb)) {
        return WorkingSpace::sRGB;
    }
    if (space.isValid() && space == QColorSpace(QColorSpace::DisplayP3)) {
        return WorkingSpace::displayP3;
    }
    return WorkingSpace::extendedLinearSRGB;
}

bool contains(const QImage& image, PixelPoint pixel) {
    return pixel.x >= 0 && pixel.y >= 0 && pixel.x < image.width() && pixel.y < image.height();
}

} // namespace

std::optional<PickedColor> DisplaySnapshot::color(PixelPoint pixel) const {
    if (!contains(image, pixel)) {
        return std::nullopt;
    }
    QImage one = image.copy(QRect(static_cast<int>(pixel.x), static_cast<int>(pixel.y), 1, 1));
    if (one.isNull()) {
        return std::nullopt;
    }
    // One pixel as four premultiplied floats, the way every source format reads alike.
    one.convertTo(QImage::Format_RGBA32FPx4_Premultiplied);
    if (one.isNull()) {
        return std::nullopt;
    }
    const WorkingSpace space = workingSpace(image.colorSpace());
    if (space == WorkingSpace::extendedLinearSRGB && image.colorSpace().isValid()) {
        // Any other tagged space is matched into linear sRGB; an untagged image is taken
        // as linear sRGB already.
        one.convertToColorSpace(QColorSpace(QColorSpace::SRgbLinear));
        if (one.isNull() || one.format() != QImage::Format_RGBA32FPx4_Premultiplied) {
            return std::nullopt;
        }
    }
    const auto* components = reinterpret_cast<const float*>(one.constScanLine(0));
    const double alpha = components[3];
    const double divisor = alpha > 0 ? alpha : 1;
    const RGB stored{components[0] / divisor, components[1] / divisor, components[2] / divisor};

    switch (space) {
    case WorkingSpace::sRGB:
        return PickedColor{
            RGB{srgbDecode(stored.red), srgbDecode(stored.green), srgbDecode(stored.blue)}};
    case WorkingSpace::displayP3: {
        // Display P3 shares the sRGB transfer curve.
        const RGB linearP3{srgbDecode(stored.red), srgbDecode(stored.green),
                           srgbDecode(stored.blue)};
        return PickedColor{matrices::linearP3ToLinearSRGB() * linearP3};
    }
    case WorkingSpace::extendedLinearSRGB:
        return PickedColor{stored};
    }
    return std::nullopt;
}

std::optional<QImage> DisplaySnapshot::patch(PixelPoint around, int radius) const {
    if (radius < 0 || image.isNull()) {
        return std::nullopt;
    }
    const std::int64_t size = 2 * std::int64_t{radius} + 1;
    const std::int64_t left = around.x - radius;
    const std::int64_t top = around.y - radius;
    // The visible part: the patch clipped to the image.
    const std::int64_t visibleLeft = std::max<std::int64_t>(left, 0);
    const std::int64_t visibleTop = std::max<std::int64_t>(top, 0);
    const std::int64_t visibleRight = std::min<std::int64_t>(left + size, image.width());
    const std::int64_t visibleBottom = std::min<std::int64_t>(top + size, image.height());
    if (visibleRight <= visibleLeft || visibleBottom <= visibleTop) {
        return std::nullopt;
    }
    const QRect visible(static_cast<int>(visibleLeft), static_cast<int>(visibleTop),
                        static_cast<int>(visibleRight - visibleLeft),
                        static_cast<int>(visibleBottom - visibleTop));

    const bool wholly = visible.width() == size && visible.height() == size;
    if (wholly && image.depth() % 32 == 0) {
        // A view into the capture's own rows, no copy: the loupe asks for one on every
        // mouse move. The view holds a reference to the capture, so it stays valid after
        // the snapshot goes away, and the pixels go when the last of them does.
        const qsizetype offset =
            visible.y() * image.bytesPerLine() + visible.x() * (image.depth() / 8);
        auto* keeper = new QImage(image);
        QImage view(
            keeper->constBits() + offset, visible.width(), visible.height(), keeper->bytesPerLine(),
            keeper->format(), [](void* info) { delete static_cast<QImage*>(info); }, keeper);
        view.setColorSpace(image.colorSpace());
        return view;
    }
    const QImage crop = image.copy(visible);
    if (crop.isNull()) {
        return std::nullopt;
    }
    if (wholly) {
        return crop;
    }

    // Past an edge: opaque black where there is no pixel, every captured pixel at its place.
    QImage padded(static_cast<int>(size), static_cast<int>(size),
                  QImage::Format_ARGB32_Premultiplied);
    if (padded.isNull()) {
        return std::nullopt;
    }
    padded.setColorSpace(image.colorSpace().isValid() ? image.colorSpace()
                                                      : QColorSpace(QColorSpace::SRgb));
    padded.fill(QColor(0, 0, 0, 255));
    QPainter painter(&padded);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(
        QPoint(static_cast<int>(visibleLeft - left), static_cast<int>(visibleTop - top)), crop);
    painter.end();
    return padded;
}
