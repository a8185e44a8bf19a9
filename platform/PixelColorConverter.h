#pragma once

// Turns the pixels a monitor shows into the colour model's linear sRGB, for a monitor
// whose colours are described by something richer than a QColorSpace tag (an ICC profile
// Qt cannot read, say). A snapshot carries one; it is called only for the pixels a pick
// reads, never for a whole frame.

#include "colors/PickedColor.h"

class PixelColorConverter {
public:
    virtual ~PixelColorConverter() = default;

    // `stored`: the pixel's components as the monitor holds them, 0 to 1, not
    // premultiplied. The result is linear sRGB, unclamped. Any thread.
    virtual RGB toLinearSRGB(const RGB& stored) const = 0;
};
