// The colour model and the copy texts: worked examples text for text, then the edge
// cases where a slip in the arithmetic order, a branch point or a sign shows.

#include "colors/ColorFormat.h"

#include <QByteArray>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <locale>
#include <optional>
#include <sstream>
#include <string>

namespace {

PickedColor fromSRGB(double r, double g, double b) {
    return {{srgbDecode(r), srgbDecode(g), srgbDecode(b)}};
}

PickedColor fromLinearP3(double r, double g, double b) {
    return {matrices::linearP3ToLinearSRGB() * RGB{r, g, b}};
}

// The inverse of okLab, to reach a chosen lightness, hue or chroma.
PickedColor fromOKLab(double L, double a, double b) {
    const RGB lms = matrices::okLabToLMS * RGB{L, a, b};
    const RGB cubes{std::pow(lms.red, 3), std::pow(lms.green, 3), std::pow(lms.blue, 3)};
    return {matrices::lmsToLinearSRGB * cubes};
}

PickedColor fromOKLCH(double L, double C, double h) {
    const double radians = h * 3.141592653589793 / 180;
    return fromOKLab(L, C * std::cos(radians), C * std::sin(radians));
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

// ---------------------------------------------------------------------------------------
// Number texts

TEST(NumberText, FixedDecimalsWithoutANegativeZero) {
    struct Case {
        double x;
        int places;
        const char* decimal;
        const char* trimmed;
    };
    const Case cases[] = {
        {-0.0001, 3, "0.000", "0"},
        {-0.0, 3, "0.000", "0"},
        {-0.1234, 3, "-0.123", "-0.123"},
        {-0.0005, 3, "-0.001", "-0.001"}, // the double lies just below -0.0005
        {0.25804, 4, "0.2580", "0.258"},
        {1.0, 4, "1.0000", "1"},
        {0.0, 4, "0.0000", "0"},
        {100.0, 1, "100.0", "100"},
        {100.0, 0, "100", "100"},   // no point: the zeros of an integer stay
        {0.125, 2, "0.12", "0.12"}, // an exact tie rounds to even
        {0.375, 2, "0.38", "0.38"},
        {2.675, 2, "2.67", "2.67"}, // the double is below 2.675
        {359.995, 2, "360.00", "360"},
        {1234567.5, 1, "1234567.5", "1234567.5"}, // no grouping
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        EXPECT_EQ(decimalText(c.x, c.places), c.decimal);
        EXPECT_EQ(trimmedText(c.x, c.places), c.trimmed);
    }
}

// ---------------------------------------------------------------------------------------
// Edge cases of the texts

TEST(FormatText, EdgeCases) {
    struct Case {
        const char* name;
        PickedColor color;
        ColorFormat format;
        const char* text;
    };
    const Case cases[] = {
        // A hue that would print as "360.00" prints "0.00"; just below keeps its digits.
        {"hue359.996", fromOKLCH(0.5, 0.1, 359.996), F::oklch, "oklch(50.00% 0.100 0.00)"},
        {"hue359.994", fromOKLCH(0.5, 0.1, 359.994), F::oklch, "oklch(50.00% 0.100 359.99)"},
        // A chroma that prints as zero hides its hue; one that prints "0.001" shows it.
        {"chroma0.0004", fromOKLCH(0.5, 0.0004, 123.456), F::oklch, "oklch(50.00% 0.000 0)"},
        {"chroma0.001", fromOKLCH(0.5, 0.001, 123.456), F::oklch, "oklch(50.00% 0.001 123.46)"},
        // HSL hue 359.96 would print "360".
        {"hsl359.96", fromSRGB(1, 0, 0.04 / 60), F::hsl, "hsl(0, 100%, 50%)"},
        {"hsl359.94", fromSRGB(1, 0, 0.06 / 60), F::hsl, "hsl(359.9, 100%, 50%)"},
        {"tinyNegativeA", fromOKLab(0.5, -0.00001, -0.00002), F::oklab,
         "oklab(50.00% 0.000 0.000)"},
        {"negativeA", fromOKLab(0.6, -0.1234, 0.05), F::oklab, "oklab(60.00% -0.123 0.050)"},
        // OKLCH and OKLAB never map; HEX maps a colour brighter than white to white.
        {"brightOklch", {{2, 2, 2}}, F::oklch, "oklch(125.99% 0.000 0)"},
        {"brightOklab", {{2, 2, 2}}, F::oklab, "oklab(125.99% 0.000 0.000)"},
        {"brightHex", {{2, 2, 2}}, F::hex, "#FFFFFF"},
        // Within the slack of the in-gamut test, the code formats stay sRGB, clamped.
        {"slackNSColor", fromSRGB(1.0004, 0.2, -0.0004), F::nsColor,
         "NSColor(srgbRed: 1.000, green: 0.200, blue: 0.000, alpha: 1)"},
        {"slackSwiftUI", fromSRGB(1.0004, 0.2, -0.0004), F::swiftUIColor,
         "Color(.sRGB, red: 1.000, green: 0.200, blue: 0.000)"},
        {"beyondSlackNSColor", fromSRGB(1.0006, 0.2, 0.2), F::nsColor,
         "NSColor(displayP3Red: 0.921, green: 0.283, blue: 0.247, alpha: 1)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text(c.color, c.format), c.text);
    }
}

TEST(ColorFormatNames, RawValuesTitlesAndTheStoredSetting) {
    const std::pair<const char*, const char*> names[] = {
        {"oklch", "OKLCH"},
        {"hex", "HEX"},
        {"rgba", "RGBA"},
        {"hsl", "HSL"},
        {"oklab", "OKLAB"},
        {"nsColor", "NSColor"},
        {"swiftUIColor", "SwiftUI Color"},
        {"displayP3", "CSS color(display-p3)"},
    };
    for (std::size_t i = 0; i < allColorFormats.size(); ++i) {
        const ColorFormat format = allColorFormats[i];
        EXPECT_EQ(rawValue(format), names[i].first);
        EXPECT_EQ(title(format), names[i].second);
        EXPECT_EQ(colorFormatFromRawValue(names[i].first), format);
        EXPECT_EQ(colorFormatFromSetting(std::string(names[i].first)), format);
    }
    for (const char* unknown : {"OKLCH", "", "hex ", "Hex", "display-p3"}) {
        SCOPED_TRACE(unknown);
        EXPECT_EQ(colorFormatFromRawValue(unknown), std::nullopt);
        EXPECT_EQ(colorFormatFromSetting(std::string(unknown)), ColorFormat::oklch);
    }
    EXPECT_EQ(colorFormatFromSetting(std::nullopt), ColorFormat::oklch);
}

// ---------------------------------------------------------------------------------------
// Locale independence

// Switches the C and C++ global locales to German (comma decimals) for one test and
// restores both. Builds the locale into a temporary folder when the system lacks it.
class UnderGermanLocale : public ::testing::Test {
protected:
    void SetUp() override {
        m_savedC = std::setlocale(LC_ALL, nullptr);
        if (!std::setlocale(LC_ALL, localeName)) {
            const QString localedef = QStandardPaths::findExecutable("localedef");
            if (localedef.isEmpty())
                GTEST_SKIP() << "de_DE.UTF-8 is not installed and localedef is missing "
                                "(Debian package 'locales'); cannot test a comma-decimal locale";
            ASSERT_TRUE(m_localeDir.isValid());
            QProcess::execute(
                localedef, {"-i", "de_DE", "-f", "UTF-8", m_localeDir.path() + "/" + localeName});
            const QByteArray previous = qgetenv("LOCPATH");
            m_savedLocPath = previous.isNull() ? std::nullopt : std::optional(previous);
            qputenv("LOCPATH", m_localeDir.path().toLocal8Bit());
            if (!std::setlocale(LC_ALL, localeName))
                GTEST_SKIP() << "localedef could not build de_DE.UTF-8; cannot test a "
                                "comma-decimal locale";
        }
        m_savedCpp = std::locale();
        std::locale::global(std::locale(localeName));
        m_switched = true;
    }

    void TearDown() override {
        if (m_switched)
            std::locale::global(m_savedCpp);
        std::setlocale(LC_ALL, m_savedC.c_str());
        if (m_savedLocPath)
            qputenv("LOCPATH", *m_savedLocPath);
        else
            qunsetenv("LOCPATH");
    }

    static constexpr const char* localeName = "de_DE.UTF-8";
    std::string m_savedC;
    std::locale m_savedCpp;
    std::optional<QByteArray> m_savedLocPath;
    QTemporaryDir m_localeDir;
    bool m_switched = false;
};

TEST_F(UnderGermanLocale, TextsAreUnchanged) {
    // The locale really is in force for printf and iostreams.
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.3f", 0.5);
    ASSERT_STREQ(probe, "0,500");
    std::ostringstream stream;
    stream.imbue(std::locale());
    stream << 1234567.5;
    ASSERT_NE(stream.str(), "1.23457e+06");

    for (const Example& example : examples) {
        SCOPED_TRACE(example.name);
        EXPECT_EQ(text(example.color(), example.format), example.text);
    }
    EXPECT_EQ(trimmedText(1234567.25, 2), "1234567.25");
}

} // namespace
