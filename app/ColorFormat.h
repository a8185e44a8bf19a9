#pragma once

// The eight copy formats and the one-line text of a colour in each.
// Number texts never depend on the process locale.

#include "app/PickedColor.h"

#include <optional>
#include <string>
#include <string_view>

// Declaration order is the order shown to the user; raw values are stored in settings.
enum class ColorFormat { oklch, hex, rgba, hsl, oklab, nsColor, swiftUIColor, displayP3 };

std::optional<ColorFormat> colorFormatFromRawValue(std::string_view rawValue);
std::string_view rawValue(ColorFormat format);
std::string_view title(ColorFormat format);
std::string text(const PickedColor& color, ColorFormat format);
