#pragma once

// How a colour is painted on screen. An X11 display paints sRGB, so the platform
// colour is the sRGB encoding of each linear component, clamped to [0, 1].

#include "colors/PickedColor.h"

#include <QColor>
#include <QIcon>

QColor platformColor(const PickedColor& color);

// A size x size swatch: the colour in a rounded square (radius 3.5, inset 0.5) with a
// faint outline, so that white and black stay visible against the menu. Sharp at any
// screen scale.
QIcon swatchIcon(const PickedColor& color, int size);
