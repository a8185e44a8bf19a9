#include "app/Loupe.h"

#include "app/ColorSwatch.h"
#include "platform/ScreenGeometry.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

using namespace LoupeMetrics;

QRectF layoutLabel(double textWidth, QPointF point, const QRectF& bounds) {
    const double labelWidth = std::ceil(textWidth) + textX + textTrailing;
    const double originX = point.x() - circleRadius;
    const bool fitsBelow =
        point.y() - circleRadius - labelGap - labelHeight >= bounds.y() + edgeMargin;
    const double y = fitsBelow ? -(labelGap + labelHeight) : size + labelGap;
    const double lo = bounds.left() + edgeMargin - originX;
    const double hi = bounds.left() + bounds.width() - edgeMargin - labelWidth - originX;
    const double centred = (size - labelWidth) / 2;
    const double x = std::min(std::max(lo, hi), std::max(centred, lo));
    return QRectF(x, y, labelWidth, labelHeight);
}

bool centerMarkIsBlack(const PickedColor& color) {
    return color.okLab().L > 0.6;
}

namespace {

QFont loupeFont() {
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(int(fontSize));
    font.setWeight(QFont::Medium);
    return font;
}

// A rectangle in a y-up space whose origin is `origin` (also y up, in the view) to the
// widget's top-left coordinates.
QRectF toWidget(const QRectF& rect, QPointF origin, double viewHeight) {
    return ScreenGeometry::viewToWidget(rect.translated(origin), viewHeight);
}

} // namespace

Loupe::Loupe(QObject* parent)
    : QObject(parent)
    , m_font(loupeFont())
    , m_pulse(new QVariantAnimation(this)) {
    const QFontMetricsF metrics(m_font);
    m_textHeight = std::ceil(metrics.ascent() + metrics.descent());
    m_staticText.setTextFormat(Qt::PlainText);
    m_staticText.setPerformanceHint(QStaticText::AggressiveCaching);
    // The ring swells to 8 points in 0.12 s and returns to 3 in as long again.
    m_pulse->setDuration(240);
    m_pulse->setStartValue(LoupeMetrics::ringWidth);
    m_pulse->setKeyValueAt(0.5, pulsedRingWidth);
    m_pulse->setEndValue(LoupeMetrics::ringWidth);
    connect(m_pulse, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_ringWidth = value.toDouble();
        Q_EMIT repaintNeeded();
    });
}

Loupe::~Loupe() = default;

void Loupe::update(const std::optional<QImage>& patch, const QString& text, QPointF point,
                   const QRectF& bounds, const PickedColor& color, double scale) {
    m_hidden = false;
    m_point = point;
    if (scale != m_scale) {
        m_scale = scale;
        m_grid = QImage();
        m_masks = nullptr;
        m_chrome = QImage();
    }
    m_color = platformColor(color);
    m_centerBlack = centerMarkIsBlack(color);
    composePixels(patch);
    composeChrome();

    if (text != m_text) {
        m_text = text;
        m_textWidth = std::ceil(QFontMetricsF(m_font).horizontalAdvance(text));
        m_staticText.setText(text);
    }
    m_labelFrame = layoutLabel(m_textWidth, point, bounds);
}

void Loupe::hide() {
    m_hidden = true;
}

void Loupe::showCopied() {
    // The label keeps its size and place; only the text changes.
    m_text = QStringLiteral("Copied");
    m_staticText.setText(m_text);
    m_pulse->stop();
    m_pulse->start();
}

const QImage& Loupe::gridImage() {
    if (m_grid.isNull()) {
        // Drawing the 32 half-transparent lines costs milliseconds, on the way to the first
        // loupe of every pick: they are drawn once per scale for the whole process (a
        // hundred kB or so, nothing of the screen in them).
        static std::vector<std::pair<double, QImage>> drawn;
        const auto found = std::find_if(drawn.begin(), drawn.end(),
                                        [this](const auto& grid) { return grid.first == m_scale; });
        if (found != drawn.end()) {
            m_grid = found->second;
            return m_grid;
        }
        const int side = int(std::ceil(size * m_scale));
        // In device pixels (no device pixel ratio), so that it blends 1:1 over the patch.
        m_grid = QImage(side, side, QImage::Format_ARGB32_Premultiplied);
        m_grid.fill(Qt::transparent);
        QPainter painter(&m_grid);
        painter.scale(m_scale, m_scale);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(0, 0, 0, 64), gridLineWidth));
        for (int k = 1; k < cells; ++k) {
            painter.drawLine(QPointF(cell * k, 0), QPointF(cell * k, size));
            painter.drawLine(QPointF(0, cell * k), QPointF(size, cell * k));
        }
        painter.end();
        drawn.emplace_back(m_scale, m_grid);
    }
    return m_grid;
}

// The circle cut out by hand and its ring and outline drawn from masks: filling or
// stroking a circle made Qt split each fill across its worker threads, and waking them cost
// a pointer move more than the fills.
const Loupe::Masks& Loupe::masks() {
    if (!m_masks) {
        static std::vector<std::pair<double, std::unique_ptr<Masks>>> drawn;
        const auto found = std::find_if(drawn.begin(), drawn.end(), [this](const auto& masks) {
            return masks.first == m_scale;
        });
        if (found != drawn.end()) {
            m_masks = found->second.get();
            return *m_masks;
        }
        const int side = int(std::ceil(size * m_scale));
        const int grown = side + 2 * chromePad();
        auto masks = std::make_unique<Masks>();
        const auto draw = [this](QImage& mask, int side, double pad, const auto& shape) {
            mask = QImage(side, side, QImage::Format_Alpha8);
            mask.fill(Qt::transparent);
            QPainter painter(&mask);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.scale(m_scale, m_scale);
            painter.translate(pad, pad);
            shape(painter);
        };
        const QRectF circle(0, 0, size, size);
        draw(masks->circle, side, 0, [&](QPainter& painter) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(Qt::white);
            painter.drawEllipse(circle);
        });
        const double pad = chromePad() / m_scale;
        draw(masks->ring, grown, pad, [&](QPainter& painter) {
            painter.setPen(QPen(Qt::white, LoupeMetrics::ringWidth));
            painter.drawEllipse(circle.adjusted(ringInset, ringInset, -ringInset, -ringInset));
        });
        draw(masks->outline, grown, pad, [&](QPainter& painter) {
            painter.setPen(QPen(Qt::white, outlineWidth));
            painter.drawEllipse(
                circle.adjusted(outlineInset, outlineInset, -outlineInset, -outlineInset));
        });
        m_masks = masks.get();
        drawn.emplace_back(m_scale, std::move(masks));
    }
    return *m_masks;
}

namespace {

// A premultiplied pixel times a coverage of 0-255.
QRgb covered(QRgb pixel, std::uint32_t coverage) {
    std::uint32_t redBlue = (pixel & 0xff00ff) * coverage;
    redBlue = ((redBlue + ((redBlue >> 8) & 0xff00ff) + 0x800080) >> 8) & 0xff00ff;
    std::uint32_t alphaGreen = ((pixel >> 8) & 0xff00ff) * coverage;
    alphaGreen = (alphaGreen + ((alphaGreen >> 8) & 0xff00ff) + 0x800080) & 0xff00ff00;
    return alphaGreen | redBlue;
}

} // namespace

void Loupe::composePixels(const std::optional<QImage>& patch) {
    const int side = int(std::ceil(size * m_scale));
    if (m_pixels.width() != side) {
        m_pixels = QImage(side, side, QImage::Format_ARGB32_Premultiplied);
    }
    QPainter painter(&m_pixels);
    painter.scale(m_scale, m_scale);
    painter.fillRect(QRectF(0, 0, size, size), Qt::black);
    if (patch && !patch->isNull()) {
        // Each captured pixel becomes a sharp 9-point square, never smoothed.
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(QRectF(0, 0, size, size), *patch, QRectF(patch->rect()));
    }
    painter.resetTransform();
    painter.drawImage(QPointF(0, 0), gridImage());
    painter.scale(m_scale, m_scale);
    painter.setRenderHint(QPainter::Antialiasing);
    // The centre cell is symmetric, so the y-up rectangle is the same from the top.
    painter.setPen(QPen(m_centerBlack ? Qt::black : Qt::white, centerMarkWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(cell * patchRadius, cell * patchRadius, cell, cell));
    painter.end();

    const QImage& mask = masks().circle;
    for (int y = 0; y < side; ++y) {
        auto* row = reinterpret_cast<QRgb*>(m_pixels.scanLine(y));
        const uchar* coverage = mask.constScanLine(y);
        for (int x = 0; x < side; ++x) {
            if (coverage[x] != 255) {
                row[x] = covered(row[x], coverage[x]);
            }
        }
    }
}

void Loupe::composeChrome() {
    if (!m_chrome.isNull() && m_chromeColor == m_color) {
        return; // the pointer moved over the same colour
    }
    m_chromeColor = m_color;
    const Masks& masks = this->masks();
    const int side = masks.ring.width();
    if (m_chrome.width() != side) {
        m_chrome = QImage(side, side, QImage::Format_ARGB32_Premultiplied);
    }
    const QRgb ring = qPremultiply(m_color.rgba());
    const QRgb outline = qRgba(0, 0, 0, 128);
    for (int y = 0; y < side; ++y) {
        auto* row = reinterpret_cast<QRgb*>(m_chrome.scanLine(y));
        const uchar* ringCoverage = masks.ring.constScanLine(y);
        const uchar* outlineCoverage = masks.outline.constScanLine(y);
        for (int x = 0; x < side; ++x) {
            const QRgb under = covered(ring, ringCoverage[x]);
            const QRgb over = covered(outline, outlineCoverage[x]);
            row[x] = over + covered(under, 255 - qAlpha(over));
        }
    }
}

QRect Loupe::coveredRect(double viewHeight) const {
    if (m_hidden) {
        return {};
    }
    // The widest the circle gets is the pulsing ring's outer edge, 79 from the centre.
    const double reach = size / 2 - ringInset + pulsedRingWidth / 2;
    const QPointF centre = ScreenGeometry::viewToWidget(m_point, viewHeight);
    const QRectF circle(centre.x() - reach, centre.y() - reach, 2 * reach, 2 * reach);
    const QPointF origin(m_point.x() - circleRadius, m_point.y() - circleRadius);
    const QRectF label = toWidget(m_labelFrame, origin, viewHeight);
    // One device pixel of antialiasing around everything.
    return circle.united(label).toAlignedRect().adjusted(-1, -1, 1, 1);
}

void Loupe::paint(QPainter& painter, double viewHeight) const {
    if (m_hidden) {
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF origin(m_point.x() - circleRadius, m_point.y() - circleRadius);
    const QRectF circle = toWidget(QRectF(0, 0, size, size), origin, viewHeight);

    // The patch, the grid and the centre mark, composed and cut to the circle in update().
    painter.drawImage(circle, m_pixels);

    if (m_ringWidth == LoupeMetrics::ringWidth) {
        const double pad = chromePad() / m_scale;
        painter.drawImage(circle.adjusted(-pad, -pad, pad, pad), m_chrome);
    } else {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(m_color, m_ringWidth));
        painter.drawEllipse(circle.adjusted(ringInset, ringInset, -ringInset, -ringInset));
        painter.setPen(QPen(QColor(0, 0, 0, 128), outlineWidth));
        painter.drawEllipse(
            circle.adjusted(outlineInset, outlineInset, -outlineInset, -outlineInset));
    }

    const QRectF label = toWidget(m_labelFrame, origin, viewHeight);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 204));
    painter.drawRoundedRect(label, labelRadius, labelRadius);

    const QRectF swatch(label.x() + swatchX, label.y() + labelHeight - swatchY - swatchSize,
                        swatchSize, swatchSize);
    painter.setBrush(m_color);
    painter.drawRoundedRect(swatch, swatchRadius, swatchRadius);
    // The border lies inside the swatch, as a layer border does.
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(255, 255, 255, 153), 1));
    painter.drawRoundedRect(swatch.adjusted(0.5, 0.5, -0.5, -0.5), swatchRadius - 0.5,
                            swatchRadius - 0.5);

    painter.setFont(m_font);
    painter.setPen(Qt::white);
    painter.drawStaticText(QPointF(label.x() + textX, label.y() + (labelHeight - m_textHeight) / 2),
                           m_staticText);
    painter.restore();
}
