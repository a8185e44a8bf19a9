#include "colors/ColorFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

struct FormatInfo {
    ColorFormat format;
    std::string_view rawValue;
    std::string_view title;
};

constexpr std::array<FormatInfo, 8> formatInfo{{
    {ColorFormat::oklch, "oklch", "OKLCH"},
    {ColorFormat::hex, "hex", "HEX"},
    {ColorFormat::rgba, "rgba", "RGBA"},
    {ColorFormat::hsl, "hsl", "HSL"},
    {ColorFormat::oklab, "oklab", "OKLAB"},
    {ColorFormat::nsColor, "nsColor", "NSColor"},
    {ColorFormat::swiftUIColor, "swiftUIColor", "SwiftUI Color"},
    {ColorFormat::displayP3, "displayP3", "CSS color(display-p3)"},
}};

const FormatInfo& infoOf(ColorFormat format) {
    return formatInfo[static_cast<std::size_t>(format)];
}

// True when a fixed-point text reads back as zero ("0.000", "-0.00").
bool readsAsZero(std::string_view text) {
    if (!text.empty() && text.front() == '-')
        text.remove_prefix(1);
    if (text.empty())
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return c == '0' || c == '.'; });
}

} // namespace

std::optional<ColorFormat> colorFormatFromRawValue(std::string_view rawValue) {
    for (const FormatInfo& info : formatInfo)
        if (info.rawValue == rawValue)
            return info.format;
    return std::nullopt;
}

ColorFormat colorFormatFromSetting(const std::optional<std::string>& stored) {
    if (!stored)
        return ColorFormat::oklch;
    return colorFormatFromRawValue(*stored).value_or(ColorFormat::oklch);
}

std::string_view rawValue(ColorFormat format) {
    return infoOf(format).rawValue;
}

std::string_view title(ColorFormat format) {
    return infoOf(format).title;
}

// std::to_chars in fixed notation gives the digits of the exact double rounded to
// nearest, ties to even, like "%.nf" under the C locale, and never reads the locale.
std::string decimalText(double x, int places) {
    // The widest finite double has 309 integer digits.
    std::string text(std::size_t(312 + std::max(places, 0)), '\0');
    const auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), x,
                                            std::chars_format::fixed, std::max(places, 0));
    text.resize(error == std::errc() ? std::size_t(end - text.data()) : 0);
    if (!text.empty() && text.front() == '-' && readsAsZero(text))
        text.erase(0, 1);
    return text;
}

std::string trimmedText(double x, int places) {
    std::string text = decimalText(x, places);
    if (text.find('.') == std::string::npos)
        return text;
    while (text.back() == '0')
        text.pop_back();
    if (text.back() == '.')
        text.pop_back();
    return text;
}

namespace {

std::string oklchText(const PickedColor& color) {
    const OKLCH lch = color.okLCH();
    const std::string chroma = decimalText(lch.C, 3);
    // A grey's chroma is rounding noise (about 1e-8), and so is its hue: hide it.
    std::string hue;
    if (readsAsZero(chroma))
        hue = "0";
    else
        hue = decimalText(lch.h >= 359.995 ? 0 : lch.h, 2);
    return "oklch(" + decimalText(lch.L * 100, 2) + "% " + chroma + " " + hue + ")";
}

std::string hexText(const PickedColor& color) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text = "#";
    for (const int byte : color.srgbBytes()) {
        text += digits[(byte >> 4) & 0xF];
        text += digits[byte & 0xF];
    }
    return text;
}

std::string rgbaText(const PickedColor& color) {
    const auto bytes = color.srgbBytes();
    return "rgba(" + std::to_string(bytes[0]) + ", " + std::to_string(bytes[1]) + ", " +
           std::to_string(bytes[2]) + ", 1)";
}

std::string hslText(const PickedColor& color) {
    const RGB c = color.mapped(ColorGamut::sRGB);
    const double r = c.red;
    const double g = c.green;
    const double b = c.blue;
    double max = r <= g ? g : r;
    max = max <= b ? b : max;
    double min = g < r ? g : r;
    min = b < min ? b : min;
    const double lightness = (max + min) * 0.5;
    const double delta = max - min;
    double hue = 0;
    double saturation = 0;
    if (delta > 0.000000001) {
        saturation = delta / (1 - std::fabs(2 * lightness - 1));
        double sixths;
        if (r == max)
            sixths = (g - b) / delta;
        else if (g == max)
            sixths = (b - r) / delta + 2;
        else
            sixths = (r - g) / delta + 4;
        hue = sixths * 60;
        if (hue < 0)
            hue += 360;
        // Would print as "360".
        if (hue >= 359.95)
            hue = 0;
    }
    return "hsl(" + trimmedText(hue, 1) + ", " + trimmedText(saturation * 100, 1) + "%, " +
           trimmedText(lightness * 100, 1) + "%)";
}

std::string oklabText(const PickedColor& color) {
    const OKLab lab = color.okLab();
    return "oklab(" + decimalText(lab.L * 100, 2) + "% " + decimalText(lab.a, 3) + " " +
           decimalText(lab.b, 3) + ")";
}

// The code formats print sRGB when the colour fits it, Display P3 otherwise.
struct CodeComponents {
    bool isSRGB;
    RGB rgb;
};

CodeComponents codeComponents(const PickedColor& color) {
    if (color.fitsSRGB()) {
        auto clamp = [](double linear) {
            double c = srgbEncode(linear);
            if (c <= 0)
                c = 0;
            if (c > 1)
                c = 1;
            return c;
        };
        return {true,
                {clamp(color.linear.red), clamp(color.linear.green), clamp(color.linear.blue)}};
    }
    return {false, color.mapped(ColorGamut::displayP3)};
}

std::string nsColorText(const PickedColor& color) {
    const auto [isSRGB, c] = codeComponents(color);
    return std::string(isSRGB ? "NSColor(srgbRed: " : "NSColor(displayP3Red: ") +
           decimalText(c.red, 3) + ", green: " + decimalText(c.green, 3) +
           ", blue: " + decimalText(c.blue, 3) + ", alpha: 1)";
}

std::string swiftUIColorText(const PickedColor& color) {
    const auto [isSRGB, c] = codeComponents(color);
    return std::string("Color(") + (isSRGB ? ".sRGB" : ".displayP3") +
           ", red: " + decimalText(c.red, 3) + ", green: " + decimalText(c.green, 3) +
           ", blue: " + decimalText(c.blue, 3) + ")";
}

std::string displayP3Text(const PickedColor& color) {
    const RGB c = color.mapped(ColorGamut::displayP3);
    return "color(display-p3 " + trimmedText(c.red, 4) + " " + trimmedText(c.green, 4) + " " +
           trimmedText(c.blue, 4) + ")";
}

} // namespace

std::string text(const PickedColor& color, ColorFormat format) {
    switch (format) {
    case ColorFormat::oklch:
        return oklchText(color);
    case ColorFormat::hex:
        return hexText(color);
    case ColorFormat::rgba:
        return rgbaText(color);
    case ColorFormat::hsl:
        return hslText(color);
    case ColorFormat::oklab:
        return oklabText(color);
    case ColorFormat::nsColor:
        return nsColorText(color);
    case ColorFormat::swiftUIColor:
        return swiftUIColorText(color);
    case ColorFormat::displayP3:
        return displayP3Text(color);
    }
    return {};
}
