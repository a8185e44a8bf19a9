// The colour model and the copy texts: worked examples text for text, then the edge
// cases where a slip in the arithmetic order, a branch point or a sign shows.

#include "app/ColorFormat.h"

#include <QByteArray>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <clocale>
#include <cmath>
#include <gtest/gtest.h>
#include <locale>
#include <string>

namespace {

PickedColor fromSRGB(double r, double g, double b) {
    return {{srgbDecode(r), srgbDecode(g), srgbDecode(b)}};
}

PickedColor fromLinearP3(double r, double g, double b) {
    return {matrices::linearP3ToLinearSRGB() * RGB{r, g, b}};
}

// The inverse of okLCH, to reach a chosen hue or chroma.
[[maybe_unused]] PickedColor fromOKLCH(double L, double C, double h) {
    const double radians = h * 3.141592653589793 / 180;
    const RGB lms = matrices::okLabToLMS * RGB{L, C * std::cos(radians), C * std::sin(radians)};
    const RGB cubes{std::pow(lms.red, 3), std::pow(lms.green, 3), std::pow(lms.blue, 3)};
    return {matrices::lmsToLinearSRGB * cubes};
}

PickedColor sampleColor() {
    return PickedColor::sample();
}
PickedColor srgbRed() {
    return {{1, 0, 0}};
}
PickedColor grey128() {
    return fromSRGB(128.0 / 255, 128.0 / 255, 128.0 / 255);
}
PickedColor p3Red() {
    return fromLinearP3(1, 0, 0);
}
PickedColor black() {
    return {{0, 0, 0}};
}
PickedColor white() {
    return {{1, 1, 1}};
}

[[maybe_unused]] void expectNear(const RGB& actual, const RGB& expected, double tolerance) {
    EXPECT_NEAR(actual.red, expected.red, tolerance);
    EXPECT_NEAR(actual.green, expected.green, tolerance);
    EXPECT_NEAR(actual.blue, expected.blue, tolerance);
}

// ---------------------------------------------------------------------------------------
// Worked examples

struct Example {
    const char* name;
    PickedColor (*color)();
    ColorFormat format;
    const char* text;
};

class WorkedExample : public ::testing::TestWithParam<Example> {};

TEST_P(WorkedExample, PrintsExactly) {
    const Example& example = GetParam();
    EXPECT_EQ(text(example.color(), example.format), example.text);
}

using F = ColorFormat;
const Example examples[] = {
    {"sample_oklch", sampleColor, F::oklch, "oklch(68.04% 0.210 33.69)"},
    {"sample_hex", sampleColor, F::hex, "#FF5733"},
    {"sample_rgba", sampleColor, F::rgba, "rgba(255, 87, 51, 1)"},
    {"sample_hsl", sampleColor, F::hsl, "hsl(10.6, 100%, 60%)"},
    {"sample_oklab", sampleColor, F::oklab, "oklab(68.04% 0.175 0.116)"},
    {"sample_nsColor", sampleColor, F::nsColor,
     "NSColor(srgbRed: 1.000, green: 0.341, blue: 0.200, alpha: 1)"},
    {"sample_swiftUIColor", sampleColor, F::swiftUIColor,
     "Color(.sRGB, red: 1.000, green: 0.341, blue: 0.200)"},
    {"sample_displayP3", sampleColor, F::displayP3, "color(display-p3 0.9258 0.3891 0.258)"},

    {"srgbRed_oklch", srgbRed, F::oklch, "oklch(62.80% 0.258 29.23)"},
    {"srgbRed_hex", srgbRed, F::hex, "#FF0000"},
    {"srgbRed_rgba", srgbRed, F::rgba, "rgba(255, 0, 0, 1)"},
    {"srgbRed_hsl", srgbRed, F::hsl, "hsl(0, 100%, 50%)"},
    {"srgbRed_oklab", srgbRed, F::oklab, "oklab(62.80% 0.225 0.126)"},
    {"srgbRed_nsColor", srgbRed, F::nsColor,
     "NSColor(srgbRed: 1.000, green: 0.000, blue: 0.000, alpha: 1)"},
    {"srgbRed_swiftUIColor", srgbRed, F::swiftUIColor,
     "Color(.sRGB, red: 1.000, green: 0.000, blue: 0.000)"},
    {"srgbRed_displayP3", srgbRed, F::displayP3, "color(display-p3 0.9175 0.2003 0.1386)"},

    {"grey_oklch", grey128, F::oklch, "oklch(59.99% 0.000 0)"},
    {"grey_hex", grey128, F::hex, "#808080"},
    {"grey_rgba", grey128, F::rgba, "rgba(128, 128, 128, 1)"},
    {"grey_hsl", grey128, F::hsl, "hsl(0, 0%, 50.2%)"},
    {"grey_oklab", grey128, F::oklab, "oklab(59.99% 0.000 0.000)"},
    {"grey_nsColor", grey128, F::nsColor,
     "NSColor(srgbRed: 0.502, green: 0.502, blue: 0.502, alpha: 1)"},
    {"grey_swiftUIColor", grey128, F::swiftUIColor,
     "Color(.sRGB, red: 0.502, green: 0.502, blue: 0.502)"},
    {"grey_displayP3", grey128, F::displayP3, "color(display-p3 0.502 0.502 0.502)"},

    {"p3Red_oklch", p3Red, F::oklch, "oklch(64.86% 0.299 28.96)"},
    {"p3Red_hex", p3Red, F::hex, "#FF0B0C"},
    {"p3Red_rgba", p3Red, F::rgba, "rgba(255, 11, 12, 1)"},
    {"p3Red_hsl", p3Red, F::hsl, "hsl(359.9, 100%, 52.2%)"},
    {"p3Red_oklab", p3Red, F::oklab, "oklab(64.86% 0.262 0.145)"},
    {"p3Red_nsColor", p3Red, F::nsColor,
     "NSColor(displayP3Red: 1.000, green: 0.000, blue: 0.000, alpha: 1)"},
    {"p3Red_swiftUIColor", p3Red, F::swiftUIColor,
     "Color(.displayP3, red: 1.000, green: 0.000, blue: 0.000)"},
    {"p3Red_displayP3", p3Red, F::displayP3, "color(display-p3 1 0 0)"},

    {"black_oklch", black, F::oklch, "oklch(0.00% 0.000 0)"},
    {"black_hex", black, F::hex, "#000000"},
    {"black_hsl", black, F::hsl, "hsl(0, 0%, 0%)"},
    {"black_oklab", black, F::oklab, "oklab(0.00% 0.000 0.000)"},
    {"black_displayP3", black, F::displayP3, "color(display-p3 0 0 0)"},

    {"white_oklch", white, F::oklch, "oklch(100.00% 0.000 0)"},
    {"white_hex", white, F::hex, "#FFFFFF"},
    {"white_hsl", white, F::hsl, "hsl(0, 0%, 100%)"},
    {"white_displayP3", white, F::displayP3, "color(display-p3 1 1 1)"},
};

INSTANTIATE_TEST_SUITE_P(Colors, WorkedExample, ::testing::ValuesIn(examples),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
