#pragma once

// The magnifier that follows the mouse over an overlay: the 17 x 17 captured pixels
// around the selection, nine points each, in a circle with a grid, a mark on the centre
// pixel, a ring in the selected colour and a label with a swatch and the colour's text.
//
// Geometry, in the loupe's own space (origin bottom-left, y up, like the view):
//
//            ^ y
//        163 +   [ label (above), near the bottom edge of the monitor ]
//        153 +      .-------.
//            |    /  17 x 17  \      circle 153 across; ring inset 1.5, width 3;
//            |   |  cells of 9 |     outline inset -0.5, width 1; the centre cell
//            |    \  (72,72)  /      (72, 72, 9, 9) marked with a 2-point square
//          0 +------'-------'-----> x
//        -34 +   [ label (below), 10 under the circle, 24 high ]
//
// The loupe owns no window: the overlay view asks it to paint, and repaints only
// coveredRect() before and after every change.

#include "colors/PickedColor.h"

#include <QFont>
#include <QImage>
#include <QObject>
#include <QPointF>
#include <QRectF>
#include <QStaticText>
#include <QString>
#include <cmath>
#include <optional>

class QPainter;
class QVariantAnimation;

namespace LoupeMetrics {
inline constexpr double size = 153;
inline constexpr double cell = 9;
inline constexpr int cells = 17;
inline constexpr int patchRadius = 8;
inline constexpr double circleRadius = size / 2;
inline constexpr double ringInset = 1.5;
inline constexpr double ringWidth = 3;
inline constexpr double pulsedRingWidth = 8;
inline constexpr double outlineInset = -0.5;
inline constexpr double outlineWidth = 1;
inline constexpr double centerMarkWidth = 2;
inline constexpr double gridLineWidth = 0.5;
inline constexpr double labelHeight = 24;
inline constexpr double labelRadius = 6;
inline constexpr double labelGap = 10;
inline constexpr double edgeMargin = 4;
inline constexpr double swatchX = 8;
inline constexpr double swatchY = 6;
inline constexpr double swatchSize = 12;
inline constexpr double swatchRadius = 3;
inline constexpr double textX = 26;
inline constexpr double textTrailing = 8;
inline constexpr double fontSize = 12;
} // namespace LoupeMetrics

// The label's frame in the loupe's space (origin 76.5 left of and below `point`, y up)
// for a text `textWidth` wide, the circle centred on `point` in a view of `bounds`
// (view coordinates, y up): below the circle where it fits above the bottom margin,
// else above; centred under the circle, pushed inside near the side edges.
QRectF layoutLabel(double textWidth, QPointF point, const QRectF& bounds);

// The centre mark contrasts with the selected colour: black on light colours
// (OKLab lightness above 0.6), white otherwise.
bool centerMarkIsBlack(const PickedColor& color);

class Loupe : public QObject {
    Q_OBJECT

public:
    explicit Loupe(QObject* parent = nullptr);
    ~Loupe() override;

    // Shows the loupe centred on `point` (view coordinates, y up) in a view of `bounds`,
    // magnifying `patch` (a missing patch shows black) at `scale` device pixels a point.
    void update(const std::optional<QImage>& patch, const QString& text, QPointF point,
                const QRectF& bounds, const PickedColor& color, double scale);
    void hide();
    bool isHidden() const { return m_hidden; }
    // The copy confirmation: the text reads "Copied" and the ring pulses once.
    void showCopied();

    // What the loupe paints, in widget coordinates (top-left origin) of a view
    // `viewHeight` points high; empty while hidden. Covers a pulsing ring too.
    QRect coveredRect(double viewHeight) const;
    void paint(QPainter& painter, double viewHeight) const;

    QString text() const { return m_text; }
    QRectF labelFrame() const { return m_labelFrame; }
    QPointF point() const { return m_point; }
    double ringWidth() const { return m_ringWidth; }

Q_SIGNALS:
    // The loupe changed by itself (the pulse): its view repaints coveredRect().
    void repaintNeeded();

private:
    void composePixels(const std::optional<QImage>& patch);
    const QImage& gridImage();
    // Coverage masks of one device pixel per byte, drawn once per scale: the circle over
    // the loupe's square, and its ring and outline over the square grown by `chromePad()`
    // device pixels on each side.
    struct Masks {
        QImage circle;
        QImage ring;
        QImage outline;
    };
    const Masks& masks();
    int chromePad() const { return int(std::ceil(m_scale)); }
    void composeChrome();

    QFont m_font;
    bool m_hidden = true;
    QPointF m_point;
    double m_scale = 1;
    QString m_text;
    QRectF m_labelFrame;
    double m_textWidth = 0;
    double m_textHeight = 0;
    QColor m_color;
    QStaticText m_staticText;
    bool m_centerBlack = false;
    double m_ringWidth = LoupeMetrics::ringWidth;
    // The magnified patch, grid and centre mark, composed once per update at the device
    // resolution and cut to the circle; painting then copies it.
    QImage m_pixels;
    // The grid never changes: drawn once per scale, then blended over each patch.
    QImage m_grid;
    const Masks* m_masks = nullptr;
    // The ring in the picked colour with the outline over it, composed once per update;
    // while the ring pulses it is drawn instead.
    QImage m_chrome;
    QColor m_chromeColor;
    QVariantAnimation* m_pulse = nullptr;
};
