// The colour model: the branch points and symmetry of the transfer curve, OKLCH of a
// primary, and the gamut mapping's order of tests and chroma reduction.

#include "colors/PickedColor.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

PickedColor fromSRGB(double r, double g, double b) {
    return {{srgbDecode(r), srgbDecode(g), srgbDecode(b)}};
}

void expectNear(const RGB& actual, const RGB& expected, double tolerance) {
    EXPECT_NEAR(actual.red, expected.red, tolerance);
    EXPECT_NEAR(actual.green, expected.green, tolerance);
    EXPECT_NEAR(actual.blue, expected.blue, tolerance);
}

TEST(TransferCurve, BranchPointsTakeTheLinearSegment) {
    // Exact equality: the power segment gives a value a few bits away at these points.
    EXPECT_EQ(srgbDecode(0.04045), 0.04045 / 12.92);
    EXPECT_EQ(srgbEncode(0.0031308), 0.0031308 * 12.92);
    EXPECT_EQ(srgbDecode(0.0404501), std::pow((0.0404501 + 0.055) / 1.055, 2.4));
    EXPECT_EQ(srgbEncode(0.0031309), std::pow(0.0031309, 0.4166666666666667) * 1.055 - 0.055);
}

TEST(TransferCurve, IsOddSymmetric) {
    for (double x : {0.5, 0.02, 1.5}) {
        SCOPED_TRACE(x);
        EXPECT_EQ(srgbDecode(-x), -srgbDecode(x));
        EXPECT_EQ(srgbEncode(-x), -srgbEncode(x));
    }
    EXPECT_EQ(srgbDecode(-0.0), 0.0);
    EXPECT_EQ(srgbEncode(-0.0), 0.0);
}

TEST(PickedColorEquality, IsExactAndIgnoresTheSignOfZero) {
    EXPECT_EQ((PickedColor{{0.0, 0.5, 1}}), (PickedColor{{-0.0, 0.5, 1}}));
    EXPECT_NE((PickedColor{{0.5, 0.5, 1}}), (PickedColor{{std::nextafter(0.5, 1.0), 0.5, 1}}));
    const PickedColor withNaN{{std::numeric_limits<double>::quiet_NaN(), 0, 0}};
    EXPECT_NE(withNaN, withNaN);
}

TEST(OKLCH, OfLinearRed) {
    const OKLCH lch = PickedColor{{1, 0, 0}}.okLCH();
    EXPECT_NEAR(lch.L, 0.62796, 1e-5);
    EXPECT_NEAR(lch.C, 0.25768, 1e-5);
    EXPECT_NEAR(lch.h, 29.2339, 1e-4);
}

TEST(OKLCH, GreyHasRoundingNoiseForChroma) {
    const OKLCH lch = fromSRGB(128.0 / 255, 128.0 / 255, 128.0 / 255).okLCH();
    EXPECT_GT(lch.C, 0);
    EXPECT_LT(lch.C, 1e-7);
    EXPECT_GE(lch.h, 0);
    EXPECT_LT(lch.h, 360);
}

// Mapped components are compared with a tolerance: encoding 1 gives 1.055 - 0.055,
// which is 0.9999999999999999 in doubles.
struct MappingCase {
    const char* name;
    PickedColor color;
    ColorGamut gamut;
    RGB expected;
    double tolerance;
};

class MappedInto : public ::testing::TestWithParam<MappingCase> {};

TEST_P(MappedInto, GivesEncodedComponents) {
    const MappingCase& c = GetParam();
    expectNear(c.color.mapped(c.gamut), c.expected, c.tolerance);
}

const PickedColor p3Red{{1.2249401763, -0.0420569547, -0.0196375546}};

const MappingCase mappingCases[] = {
    {"sRGBRedIntoSRGB", {{1, 0, 0}}, ColorGamut::sRGB, {1, 0, 0}, 1e-12},
    {"sRGBRedIntoP3", {{1, 0, 0}}, ColorGamut::displayP3, {0.9175, 0.2003, 0.1386}, 1e-4},
    // Chroma reduction keeps some green and blue; clipping would give (1, 0, 0).
    {"p3RedIntoSRGB", p3Red, ColorGamut::sRGB, {1, 0.04457, 0.04593}, 1e-4},
    {"p3RedIntoP3", p3Red, ColorGamut::displayP3, {1, 0, 0}, 1e-9},
    // Within the tolerance of the in-gamut test: clamped, not mapped.
    {"slackClamped", fromSRGB(-0.0004, 1.0004, 0.5), ColorGamut::sRGB, {0, 1, 0.5}, 1e-12},
    // The lightness limits come only after the in-gamut test.
    {"inGamutBrightIsNotWhite",
     fromSRGB(1.0004, 1.0004, 0.999),
     ColorGamut::sRGB,
     {1, 1, 0.999},
     1e-12},
    {"inGamutDarkIsNotBlack",
     fromSRGB(0.0004, -0.0004, -0.0004),
     ColorGamut::sRGB,
     {0.0004, 0, 0},
     1e-12},
    {"outOfGamutBrightIsWhite", {{2, 2, 1.5}}, ColorGamut::sRGB, {1, 1, 1}, 0},
    {"outOfGamutBrightIsWhiteInP3", {{2, 2, 1.5}}, ColorGamut::displayP3, {1, 1, 1}, 0},
    {"outOfGamutDarkIsBlack", {{-0.1, -0.1, -0.1}}, ColorGamut::sRGB, {0, 0, 0}, 0},
};

INSTANTIATE_TEST_SUITE_P(Colors, MappedInto, ::testing::ValuesIn(mappingCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GamutMapping, BeyondTheSlackIsNotInGamut) {
    EXPECT_TRUE(isInGamut({-0.0005, 1.0005, 0.5}));
    EXPECT_FALSE(isInGamut({-0.00051, 0.5, 0.5}));
    EXPECT_FALSE(isInGamut({0.5, 0.5, 1.00051}));
    EXPECT_TRUE(fromSRGB(1.0004, 0.2, -0.0004).fitsSRGB());
    EXPECT_FALSE(fromSRGB(1.0006, 0.2, 0.2).fitsSRGB());
}

TEST(GamutMapping, P3RedRoundsToElevenAndTwelve) {
    const auto bytes = PickedColor{matrices::linearP3ToLinearSRGB() * RGB{1, 0, 0}}.srgbBytes();
    EXPECT_EQ(bytes, (std::array{255, 11, 12}));
}

TEST(GamutMapping, EveryComponentStaysInTheUnitRange) {
    // A spread of wide and extended colours, each mapped into both gamuts.
    for (double r : {-0.5, 0.0, 0.3, 1.0, 1.7})
        for (double g : {-0.2, 0.1, 0.9, 1.3})
            for (double b : {-0.3, 0.05, 0.6, 2.0})
                for (ColorGamut gamut : {ColorGamut::sRGB, ColorGamut::displayP3}) {
                    const RGB m = PickedColor{{r, g, b}}.mapped(gamut);
                    for (double c : {m.red, m.green, m.blue}) {
                        EXPECT_GE(c, 0) << r << " " << g << " " << b;
                        EXPECT_LE(c, 1) << r << " " << g << " " << b;
                    }
                }
}

TEST(DerivedMatrices, AreComputedOncePerProcess) {
    for (int i = 0; i < 100; ++i) {
        (void)p3Red.mapped(ColorGamut::sRGB);
        (void)p3Red.mapped(ColorGamut::displayP3);
    }
    EXPECT_EQ(matrices::derivationCount(), 2);
    EXPECT_EQ(&matrices::linearP3ToLinearSRGB(), &matrices::linearP3ToLinearSRGB());
    // The products of the published matrices, as documented.
    EXPECT_NEAR(matrices::linearSRGBToLinearP3().m[0][0], 0.8224619687, 1e-10);
    EXPECT_NEAR(matrices::linearSRGBToLinearP3().m[2][2], 0.9105199286, 1e-10);
    EXPECT_NEAR(matrices::linearP3ToLinearSRGB().m[0][0], 1.2249401763, 1e-10);
    EXPECT_NEAR(matrices::linearP3ToLinearSRGB().m[2][1], -0.0786360456, 1e-10);
}

TEST(Sample, IsTheDecodedPreviewColour) {
    EXPECT_EQ(PickedColor::sample().srgbBytes(), (std::array{255, 87, 51}));
    EXPECT_EQ(PickedColor::sample().linear.red, 1.0);
}

} // namespace
