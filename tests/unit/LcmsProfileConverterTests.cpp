// Monitor profiles read through Little CMS: every kind a colour manager publishes gives,
// for a table of pixels, what Little CMS itself gives converting to sRGB (the oracle is
// its own transform to sRGB), within one HEX unit; near
// black keeps its value, wide-gamut colours keep their negative components, and what
// Little CMS cannot use is refused rather than guessed.

#include "backends/lcms/LcmsProfileCache.h"
#include "backends/lcms/LcmsProfileConverter.h"
#include "platform/DisplaySnapshot.h"
#include "support/TestProfiles.h"

#include <QImage>
#include <algorithm>
#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <lcms2.h>
#include <memory>
#include <string>

namespace {

using Bytes = std::array<int, 3>;

// What Little CMS gives for an 8-bit pixel of `profile` in sRGB, in floating point as the
// transicc tool converts, clipped and rounded to 8 bits.
Bytes oracle(const QByteArray& profile, Bytes pixel) {
    cmsHPROFILE input = cmsOpenProfileFromMem(profile.constData(), cmsUInt32Number(profile.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform = cmsCreateTransform(input, TYPE_RGB_DBL, srgb, TYPE_RGB_DBL,
                                                 INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsCloseProfile(input);
    cmsCloseProfile(srgb);
    EXPECT_NE(transform, nullptr);
    if (!transform) {
        return {-1, -1, -1};
    }
    const double in[3] = {pixel[0] / 255.0, pixel[1] / 255.0, pixel[2] / 255.0};
    double out[3] = {};
    cmsDoTransform(transform, in, out, 1);
    cmsDeleteTransform(transform);
    auto byte = [](double v) { return int(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
    return {byte(out[0]), byte(out[1]), byte(out[2])};
}

// A linear sRGB colour as 8-bit sRGB, clipped as Little CMS clips.
Bytes encoded(const RGB& linear) {
    auto byte = [](double v) {
        return int(std::lround(std::clamp(srgbEncode(v), 0.0, 1.0) * 255));
    };
    return {byte(linear.red), byte(linear.green), byte(linear.blue)};
}

std::string show(Bytes b) {
    return "(" + std::to_string(b[0]) + ", " + std::to_string(b[1]) + ", " + std::to_string(b[2]) +
           ")";
}

struct ProfileCase {
    const char* name;
    TestProfile profile;
};

const ProfileCase usableProfiles[] = {
    {"AdobeRGBMatrix", TestProfile::adobeMatrix},
    {"ProPhotoMatrixD50", TestProfile::proPhotoMatrix},
    {"DisplayP3Parametric", TestProfile::p3Parametric},
    {"AdobeRGBLutV2", TestProfile::adobeLutV2},
    {"AdobeRGBLutV4", TestProfile::adobeLutV4},
};

class UsableProfile : public ::testing::TestWithParam<ProfileCase> {};

// Each pixel read from a snapshot tagged with the profile's converter, as a pick reads it.
TEST_P(UsableProfile, ReadsEveryPixelAsLittleCmsDoes) {
    const QByteArray profile = testProfile(GetParam().profile);
    ASSERT_FALSE(profile.isEmpty());
    const auto converter = LcmsProfileConverter::fromProfile(profile);
    ASSERT_NE(converter, nullptr);

    const Bytes pixels[] = {{51, 102, 153},  {255, 0, 0},   {0, 255, 0},     {0, 0, 255},
                            {255, 255, 255}, {0, 0, 0},     {128, 128, 128}, {2, 2, 2},
                            {250, 240, 10},  {17, 200, 90}, {200, 30, 160},  {64, 32, 16}};
    QImage image(int(std::size(pixels)), 1, QImage::Format_RGB32);
    for (int x = 0; x < image.width(); ++x) {
        image.setPixel(x, 0, qRgb(pixels[x][0], pixels[x][1], pixels[x][2]));
    }
    const DisplaySnapshot snapshot(1, image, QRectF(0, 0, image.width(), 1), {}, converter);
    for (int x = 0; x < image.width(); ++x) {
        SCOPED_TRACE(show(pixels[x]));
        const auto color = snapshot.color(PixelPoint{x, 0});
        ASSERT_TRUE(color.has_value());
        const Bytes expected = oracle(profile, pixels[x]);
        const Bytes actual = encoded(color->linear);
        for (int i = 0; i < 3; ++i) {
            EXPECT_LE(std::abs(actual[i] - expected[i]), 1)
                << "got " << show(actual) << ", Little CMS " << show(expected);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, UsableProfile, ::testing::ValuesIn(usableProfiles),
                         [](const auto& info) { return std::string(info.param.name); });

// Near black, a 16-bit pipeline keeps a digit or two of a dark grey: a pure-gamma (2, 2,
// 2) would read as black. The grey's linear value is its curve's, whatever the white point.
// (A lookup table is only as exact as its grid there, so the curves tell.)
TEST(LcmsProfileConverterTest, NearBlackKeepsTheCurvesValue) {
    struct Case {
        const char* name;
        TestProfile profile;
        double (*curve)(double);
    };
    const Case cases[] = {
        {"AdobeRGB gamma", TestProfile::adobeMatrix,
         [](double v) { return std::pow(v, adobeGamma); }},
        {"ProPhoto gamma 1.8", TestProfile::proPhotoMatrix,
         [](double v) { return std::pow(v, 1.8); }},
        {"P3 parametric", TestProfile::p3Parametric, [](double v) { return srgbDecode(v); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto converter = LcmsProfileConverter::fromProfile(testProfile(c.profile));
        ASSERT_NE(converter, nullptr);
        for (const int level : {1, 2, 3, 8}) {
            const double v = level / 255.0;
            const RGB linear = converter->toLinearSRGB({v, v, v});
            const double expected = c.curve(v);
            for (const double component : {linear.red, linear.green, linear.blue}) {
                EXPECT_NEAR(component, expected, expected * 0.01) << "level " << level;
            }
        }
    }
}

// Colours outside sRGB reach the colour model unclamped, for its own gamut mapping.
TEST(LcmsProfileConverterTest, WideGamutColoursKeepComponentsOutsideZeroToOne) {
    const auto converter = LcmsProfileConverter::fromProfile(testProfile(TestProfile::adobeMatrix));
    ASSERT_NE(converter, nullptr);
    const RGB green = converter->toLinearSRGB({0, 1, 0});
    EXPECT_LT(green.red, -0.2);
    EXPECT_GT(green.green, 0.99);
    EXPECT_LT(green.blue, -0.01);
}

TEST(LcmsProfileConverterTest, RefusesWhatDescribesNoRGBMonitor) {
    const QByteArray adobe = testProfile(TestProfile::adobeMatrix);
    const struct {
        const char* name;
        QByteArray profile;
    } cases[] = {
        {"empty", {}},
        {"not a profile", QByteArray("not a colour profile")},
        {"cut off", adobe.left(adobe.size() / 3)},
        {"header only", adobe.left(128)},
        {"grey", testProfile(TestProfile::gray)},
        {"abstract Lab", testProfile(TestProfile::lab)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LcmsProfileConverter::fromProfile(c.profile), nullptr);
    }
}

// Distinct profiles do not pile up: the least recently used goes, and with it its
// transform once no snapshot holds it; one in use stays parsed.
TEST(LcmsProfileCacheTest, KeepsAFewProfilesAndParsesEachOnceWhileKept) {
    LcmsProfileCache cache(3);
    const QByteArray first = gammaProfile(1.5);
    const auto parsed = cache.lookup(first);
    ASSERT_TRUE(parsed.parsedNow);
    ASSERT_NE(parsed.converter, nullptr);
    std::weak_ptr<const PixelColorConverter> firstTransform = parsed.converter;

    const auto again = cache.lookup(QByteArray(first)); // equal bytes, another buffer
    EXPECT_FALSE(again.parsedNow);
    EXPECT_EQ(again.converter, parsed.converter);

    const QByteArray broken("not a colour profile");
    EXPECT_TRUE(cache.lookup(broken).parsedNow);
    const auto refusedAgain = cache.lookup(broken);
    EXPECT_FALSE(refusedAgain.parsedNow);
    EXPECT_EQ(refusedAgain.converter, nullptr);

    // Twenty more distinct profiles, with the first one looked up in between: it stays.
    for (int i = 0; i < 20; ++i) {
        EXPECT_TRUE(cache.lookup(gammaProfile(1.6 + i * 0.05)).parsedNow);
        EXPECT_FALSE(cache.lookup(first).parsedNow) << i;
        EXPECT_LE(cache.size(), 3u);
    }
    // Left unused, it goes; its transform lives while a snapshot still holds it.
    for (int i = 0; i < 3; ++i) {
        cache.lookup(gammaProfile(3.0 + i * 0.05));
    }
    EXPECT_FALSE(firstTransform.expired());
    const auto reparsed = cache.lookup(first);
    EXPECT_TRUE(reparsed.parsedNow);
    EXPECT_NE(reparsed.converter, nullptr);
    EXPECT_EQ(cache.size(), 3u);
}

TEST(LcmsProfileCacheTest, ATransformGoesWithItsLastUser) {
    LcmsProfileCache cache(1);
    std::weak_ptr<const PixelColorConverter> held;
    {
        const auto lookup = cache.lookup(gammaProfile(2.0));
        held = lookup.converter;
        cache.lookup(gammaProfile(2.1)); // evicts it while `lookup` still holds it
        EXPECT_FALSE(held.expired());
    }
    EXPECT_TRUE(held.expired());
}

} // namespace
