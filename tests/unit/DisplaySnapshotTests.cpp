// The three reads a pick makes on a frozen capture: point to pixel, pixel to colour,
// and the patch the loupe magnifies.

#include "platform/DisplaySnapshot.h"

#include <QColorSpace>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

// A monitor 40 x 30 points whose bottom-left corner is at (100, 50).
const QRectF frame(100, 50, 40, 30);

DisplaySnapshot snapshotOfSize(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::gray);
    return DisplaySnapshot{1, image, frame, {}};
}

struct PixelCase {
    const char* name;
    int scale;
    QPointF point;
    std::optional<PixelPoint> expected;
};

class PixelAt : public ::testing::TestWithParam<PixelCase> {};

TEST_P(PixelAt, MapsPointsToPixelsWithEveryEdgeInside) {
    const PixelCase& c = GetParam();
    const DisplaySnapshot snapshot = snapshotOfSize(40 * c.scale, 30 * c.scale);
    EXPECT_EQ(snapshot.pixel(c.point), c.expected);
}

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Edges, PixelAt,
    ::testing::Values(
        PixelCase{"TopEdgeIsRowZero", 1, {110, 80}, PixelPoint{10, 0}},
        PixelCase{"RightEdgeIsLastColumn", 1, {140, 60}, PixelPoint{39, 20}},
        PixelCase{"BottomLeftCornerIsLastRow", 1, {100, 50}, PixelPoint{0, 29}},
        PixelCase{"TopRightCorner", 1, {140, 80}, PixelPoint{39, 0}},
        PixelCase{"JustLeftIsOutside", 1, {100 - 1e-9, 60}, std::nullopt},
        PixelCase{"JustRightIsOutside", 1, {140 + 1e-9, 60}, std::nullopt},
        PixelCase{"JustAboveIsOutside", 1, {110, 80 + 1e-9}, std::nullopt},
        PixelCase{"JustBelowIsOutside", 1, {110, 50 - 1e-9}, std::nullopt},
        PixelCase{"NotANumberIsOutside", 1, {nan, 60}, std::nullopt},
        PixelCase{"DoubleScaleQuarterPointsAreColumnOne", 2, {100.75, 79.9}, PixelPoint{1, 0}},
        PixelCase{"DoubleScaleRowsCountFromTheTop", 2, {100, 79.4}, PixelPoint{0, 1}},
        PixelCase{"DoubleScaleRightEdge", 2, {140, 50}, PixelPoint{79, 59}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PixelAtDegenerate, AnswersNoneWithoutPixelsOrWithoutAFrame) {
    const DisplaySnapshot noImage{1, QImage(), frame, {}};
    EXPECT_EQ(noImage.pixel({110, 60}), std::nullopt);
    DisplaySnapshot flat = snapshotOfSize(40, 30);
    flat.frame = QRectF(100, 50, 40, 0);
    EXPECT_EQ(flat.pixel({110, 50}), std::nullopt);
}

QImage onePixel(QImage::Format format, QRgb argb, QColorSpace::NamedColorSpace space) {
    QImage image(1, 1, format);
    image.setPixel(0, 0, argb);
    image.setColorSpace(space);
    return image;
}

QImage oneFloatPixel(float r, float g, float b, float a,
                     std::optional<QColorSpace::NamedColorSpace> space) {
    QImage image(1, 1, QImage::Format_RGBA32FPx4_Premultiplied);
    auto* components = reinterpret_cast<float*>(image.scanLine(0));
    components[0] = r;
    components[1] = g;
    components[2] = b;
    components[3] = a;
    if (space) {
        image.setColorSpace(*space);
    }
    return image;
}

struct ColorCase {
    const char* name;
    QImage image;
    RGB expected;
    double tolerance;
};

class ColorAt : public ::testing::TestWithParam<ColorCase> {};

TEST_P(ColorAt, ReadsLinearSRGBFromTheImageSpace) {
    const ColorCase& c = GetParam();
    const DisplaySnapshot snapshot{1, c.image, QRectF(0, 0, 1, 1), {}};
    const auto color = snapshot.color({0, 0});
    ASSERT_TRUE(color.has_value());
    EXPECT_NEAR(color->linear.red, c.expected.red, c.tolerance);
    EXPECT_NEAR(color->linear.green, c.expected.green, c.tolerance);
    EXPECT_NEAR(color->linear.blue, c.expected.blue, c.tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    Spaces, ColorAt,
    ::testing::Values(
        ColorCase{"SRGBWhiteIsLinearOne",
                  onePixel(QImage::Format_RGB32, 0xffffffff, QColorSpace::SRgb),
                  {1, 1, 1},
                  0},
        ColorCase{"SRGBIsDecoded",
                  onePixel(QImage::Format_RGB32, 0xff336699, QColorSpace::SRgb),
                  {0.0331048, 0.1328683, 0.3185468},
                  1e-6},
        // 200/255, 100/255, 50/255 at half alpha: stored premultiplied, read back whole.
        ColorCase{"HalfTransparentIsUnpremultiplied",
                  onePixel(QImage::Format_ARGB32, qRgba(200, 100, 50, 128), QColorSpace::SRgb),
                  {0.5775804, 0.1274377, 0.0318960},
                  1e-4},
        ColorCase{"ZeroAlphaIsDividedByOne",
                  oneFloatPixel(0.25f, 0.5f, 0.75f, 0, std::nullopt),
                  {0.25, 0.5, 0.75},
                  0},
        ColorCase{"UntaggedIsExtendedLinearUnclamped",
                  oneFloatPixel(2, -0.5f, 0.25f, 1, std::nullopt),
                  {2, -0.5, 0.25},
                  0},
        ColorCase{"OtherSpacesAreMatchedIntoLinearSRGB",
                  oneFloatPixel(0.5f, 0.25f, 0.125f, 1, QColorSpace::SRgbLinear),
                  {0.5, 0.25, 0.125},
                  1e-3},
        // Display P3's red lies outside sRGB.
        ColorCase{"DisplayP3RedIsBeyondSRGB",
                  onePixel(QImage::Format_RGB32, 0xffff0000, QColorSpace::DisplayP3),
                  {1.2249, -0.0421, -0.0196},
                  1e-3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ColorAtOutside, AnswersNoneForPixelsOffTheImage) {
    const DisplaySnapshot snapshot = snapshotOfSize(4, 3);
    for (const PixelPoint p :
         {PixelPoint{-1, 0}, PixelPoint{0, -1}, PixelPoint{4, 0}, PixelPoint{0, 3}}) {
        EXPECT_EQ(snapshot.color(p), std::nullopt) << p.x << "," << p.y;
    }
}

// Every pixel distinct, so that a patch shows where each one landed.
DisplaySnapshot numberedSnapshot(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, qRgb(x * 10 + 5, y * 10 + 5, 77));
        }
    }
    image.setColorSpace(QColorSpace::SRgb);
    return DisplaySnapshot{1, image, QRectF(0, 0, width, height), {}};
}

TEST(Patch, PadsWithOpaqueBlackAndKeepsEveryPixelInPlace) {
    const DisplaySnapshot snapshot = numberedSnapshot(20, 20);
    struct {
        PixelPoint centre;
        PixelPoint firstImagePixelAt; // where image pixel (centre - 8) lands, when inside
    } cases[] = {{{0, 0}, {8, 8}}, {{19, 19}, {0, 0}}, {{0, 19}, {8, 0}}};
    for (const auto& c : cases) {
        const auto patch = snapshot.patch(c.centre, 8);
        ASSERT_TRUE(patch.has_value());
        ASSERT_EQ(patch->size(), QSize(17, 17));
        EXPECT_EQ(patch->colorSpace(), QColorSpace(QColorSpace::SRgb));
        for (int row = 0; row < 17; ++row) {
            for (int column = 0; column < 17; ++column) {
                const qint64 x = c.centre.x - 8 + column;
                const qint64 y = c.centre.y - 8 + row;
                const QRgb expected = x < 0 || y < 0 || x >= 20 || y >= 20
                                          ? qRgba(0, 0, 0, 255)
                                          : snapshot.image.pixel(int(x), int(y));
                ASSERT_EQ(patch->pixel(column, row), expected)
                    << "centre " << c.centre.x << "," << c.centre.y << " at " << column << ","
                    << row;
            }
        }
    }
    // The corner case of the loupe: pixel (0, 0) in the middle, 8 black rows and columns.
    const auto corner = snapshot.patch({0, 0}, 8);
    EXPECT_EQ(corner->pixel(8, 8), snapshot.image.pixel(0, 0));
    EXPECT_EQ(corner->pixel(7, 8), qRgba(0, 0, 0, 255));
    EXPECT_EQ(corner->pixel(8, 7), qRgba(0, 0, 0, 255));
}

TEST(Patch, InsideTheImageSharesThePixelsAndOutlivesTheSnapshot) {
    std::optional<QImage> patch;
    const uchar* begin = nullptr;
    QRgb centre = 0;
    {
        const DisplaySnapshot snapshot = numberedSnapshot(40, 30);
        patch = snapshot.patch({20, 15}, 8);
        ASSERT_TRUE(patch.has_value());
        begin = snapshot.image.constBits();
        const uchar* end = begin + snapshot.image.sizeInBytes();
        EXPECT_GE(patch->constBits(), begin);
        EXPECT_LT(patch->constBits(), end);
        centre = snapshot.image.pixel(20, 15);
    }
    ASSERT_EQ(patch->size(), QSize(17, 17));
    EXPECT_EQ(patch->pixel(8, 8), centre);
    EXPECT_EQ(patch->pixel(0, 0), qRgb(12 * 10 + 5, 7 * 10 + 5, 77));
}

TEST(Patch, AnswersNoneWhenNothingOfItIsOnTheImage) {
    const DisplaySnapshot snapshot = numberedSnapshot(20, 20);
    EXPECT_EQ(snapshot.patch({-9, 5}, 8), std::nullopt);
    EXPECT_EQ(snapshot.patch({5, 28}, 8), std::nullopt);
    EXPECT_EQ(snapshot.patch({5, 5}, -1), std::nullopt);
    const auto single = snapshot.patch({-8, -8}, 8); // only the bottom-right corner touches
    ASSERT_TRUE(single.has_value());
    EXPECT_EQ(single->pixel(16, 16), snapshot.image.pixel(0, 0));
    EXPECT_EQ(single->pixel(15, 16), qRgba(0, 0, 0, 255));
}

} // namespace
