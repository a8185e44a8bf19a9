#include "app/ColorSwatch.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <algorithm>

QColor platformColor(const PickedColor& color) {
    auto encoded = [](double linear) { return std::clamp(srgbEncode(linear), 0.0, 1.0); };
    return QColor::fromRgbF(float(encoded(color.linear.red)), float(encoded(color.linear.green)),
                            float(encoded(color.linear.blue)), 1.0f);
}

namespace {

// Draws on demand, so the swatch is sharp at whatever device pixel ratio the menu uses.
class SwatchEngine final : public QIconEngine {
public:
    SwatchEngine(QColor color, int size)
        : m_color(color)
        , m_size(size) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        // The swatch keeps its own size, centred in whatever box the menu gives it.
        const double side = std::min({double(m_size), double(rect.width()), double(rect.height())});
        QRectF box(0, 0, side, side);
        box.moveCenter(QRectF(rect).center());
        const QRectF inset = box.adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath path;
        path.addRoundedRect(inset, 3.5, 3.5);
        painter->fillPath(path, m_color);
        QColor outline = QApplication::palette().color(QPalette::WindowText);
        outline.setAlphaF(0.25f);
        painter->strokePath(path, QPen(outline, 1));
        painter->restore();
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }
    // `size` is in device pixels; the swatch is drawn in points, so at scale 2 it keeps its
    // size and its one-point outline.
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        QPixmap pixmap(size);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), (QSizeF(size) / scale).toSize()), mode, state);
        return pixmap;
    }
    QIconEngine* clone() const override { return new SwatchEngine(m_color, m_size); }

private:
    QColor m_color;
    int m_size;
};

} // namespace

QIcon swatchIcon(const PickedColor& color, int size) {
    return QIcon(new SwatchEngine(platformColor(color), size));
}
