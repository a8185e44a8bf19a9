#pragma once

// The frozen capture of one monitor, and the three reads a pick makes on it.

#include "colors/PickedColor.h"

#include <QColorSpace>
#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

class QScreen;

// A pixel position: column and row from the top-left of the image.
struct PixelPoint {
    std::int64_t x = 0;
    std::int64_t y = 0;

    friend bool operator==(const PixelPoint&, const PixelPoint&) = default;
};

template <> struct std::hash<PixelPoint> {
    std::size_t operator()(const PixelPoint& p) const noexcept {
        const std::size_t x = std::hash<std::int64_t>{}(p.x);
        return x ^ (std::hash<std::int64_t>{}(p.y) + 0x9e3779b97f4a7c15ULL + (x << 6) + (x >> 2));
    }
};

struct DisplaySnapshot {
    std::uint32_t displayID = 0; // the RandR monitor's output id
    QImage image;                // top row first, full pixel resolution, colour space tagged
    // The monitor in global points: origin at the bottom-left of the primary monitor,
    // y growing upwards.
    QRectF frame;
    // The name of the screen it was captured from (QScreen::name()), so that the overlay
    // can find its screen without asking the X server.
    QString screenName;

    // The pixel under a point in global points; all four edges are inside.
    std::optional<PixelPoint> pixel(QPointF point) const;
    // The pixel's colour as linear sRGB, un-premultiplied and unclamped.
    std::optional<PickedColor> color(PixelPoint pixel) const;
    // (2r + 1) x (2r + 1) pixels centred on `around`, padded with opaque black past the edges.
    std::optional<QImage> patch(PixelPoint around, int radius) const;
};
