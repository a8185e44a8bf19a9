#pragma once

// The eight copy formats and the one-line text of a colour in each.
// Number texts never depend on the process locale.

#include "colors/PickedColor.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

// Declaration order is the order shown to the user; raw values are stored in settings,
// so they never change.
enum class ColorFormat { oklch, hex, rgba, hsl, oklab, nsColor, swiftUIColor, displayP3 };

inline constexpr std::array<ColorFormat, 8> allColorFormats{
    ColorFormat::oklch, ColorFormat::hex,     ColorFormat::rgba,         ColorFormat::hsl,
    ColorFormat::oklab, ColorFormat::nsColor, ColorFormat::swiftUIColor, ColorFormat::displayP3};

// Exact, case-sensitive match of a raw value.
std::optional<ColorFormat> colorFormatFromRawValue(std::string_view rawValue);
// The format in force for a stored "copyFormat" value: oklch when absent or unknown.
ColorFormat colorFormatFromSetting(const std::optional<std::string>& stored);
std::string_view rawValue(ColorFormat format);
std::string_view title(ColorFormat format);

// The copy text: one line, no trailing newline. Cheap enough for every mouse move.
std::string text(const PickedColor& color, ColorFormat format);

// x with `places` decimals ("%.nf" digits, "." separator); "-0.000" loses its sign.
std::string decimalText(double x, int places);
// decimalText without trailing zeros, and without a trailing ".": "0.2580" -> "0.258".
std::string trimmedText(double x, int places);
