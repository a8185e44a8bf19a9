#include "backends/gnome/ScreenCastCapture.h"

#include <QColorSpace>
#include <gtest/gtest.h>
#include <vector>

namespace {

using Format = ScreenCastCapture::PixelFormat;

// A 3 x 2 frame, rows of 16 bytes (4 of padding past the pixels, filled with 0xEE so
// that reading it shows). Pixel (x, y) has the channels r = 10x + y + 1, g = 100,
// b = 200 - x, and a fourth byte of 0x40: an alpha where the format has one, junk
// where it is padding.
constexpr int frameWidth = 3;
constexpr int frameHeight = 2;
constexpr int frameStride = 16;

std::vector<std::uint8_t> frame(Format format) {
    std::vector<std::uint8_t> bytes(frameStride * frameHeight, 0xEE);
    for (int y = 0; y < frameHeight; ++y) {
        for (int x = 0; x < frameWidth; ++x) {
            std::uint8_t* p = bytes.data() + y * frameStride + x * 4;
            const std::uint8_t r = 10 * x + y + 1, g = 100, b = 200 - x;
            const bool bgr = format == Format::BGRx || format == Format::BGRA;
            p[0] = bgr ? b : r;
            p[1] = g;
            p[2] = bgr ? r : b;
            p[3] = 0x40;
        }
    }
    return bytes;
}

TEST(ScreenCastCaptureTest, FramesOfEachFormatReadPixelForPixel) {
    struct Row {
        const char* name;
        Format format;
        int alpha; // what the fourth byte becomes
    };
    const Row rows[] = {
        {"BGRx: padding made opaque", Format::BGRx, 0xff},
        {"BGRA", Format::BGRA, 0x40},
        {"RGBx: padding made opaque", Format::RGBx, 0xff},
        {"RGBA", Format::RGBA, 0x40},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto bytes = frame(row.format);
        const QImage image = ScreenCastCapture::imageFromFrame(
            bytes.data(), bytes.size(), frameStride, QSize(frameWidth, frameHeight), row.format);
        ASSERT_EQ(image.size(), QSize(frameWidth, frameHeight));
        EXPECT_EQ(image.colorSpace(), QColorSpace(QColorSpace::SRgb));
        for (int y = 0; y < frameHeight; ++y) {
            for (int x = 0; x < frameWidth; ++x) {
                const QColor c = image.pixelColor(x, y);
                EXPECT_EQ(c.alpha(), row.alpha) << x << "," << y;
                EXPECT_EQ(c.red(), 10 * x + y + 1) << x << "," << y;
                EXPECT_EQ(c.green(), 100) << x << "," << y;
                EXPECT_EQ(c.blue(), 200 - x) << x << "," << y;
            }
        }
    }
}

TEST(ScreenCastCaptureTest, CropKeepsItsPixelsAndBadSizesGiveNoImage) {
    const auto bytes = frame(Format::BGRx);
    const QSize size(frameWidth, frameHeight);
    const QImage cropped = ScreenCastCapture::imageFromFrame(
        bytes.data(), bytes.size(), frameStride, size, Format::BGRx, QRect(1, 1, 2, 1));
    ASSERT_EQ(cropped.size(), QSize(2, 1));
    EXPECT_EQ(cropped.pixelColor(0, 0), QColor(10 * 1 + 1 + 1, 100, 199));
    EXPECT_EQ(cropped.pixelColor(1, 0), QColor(10 * 2 + 1 + 1, 100, 198));

    struct Row {
        const char* name;
        std::size_t bytes;
        int stride;
        QSize size;
        std::optional<QRect> crop;
    };
    // The last row needs only its pixels, not its padding.
    const std::size_t tight = frameStride + frameWidth * 4;
    const Row rows[] = {
        {"buffer one byte short", tight - 1, frameStride, size, std::nullopt},
        {"stride shorter than a row", bytes.size(), frameWidth * 4 - 1, size, std::nullopt},
        {"no pixels", bytes.size(), frameStride, QSize(0, 2), std::nullopt},
        {"crop outside the frame", bytes.size(), frameStride, size, QRect(5, 5, 2, 2)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(ScreenCastCapture::imageFromFrame(bytes.data(), row.bytes, row.stride, row.size,
                                                      Format::BGRx, row.crop)
                        .isNull());
    }
    EXPECT_FALSE(
        ScreenCastCapture::imageFromFrame(bytes.data(), tight, frameStride, size, Format::BGRx)
            .isNull());
}

TEST(ScreenCastCaptureTest, StreamsMatchScreensByPosition) {
    using Screen = ScreenCastCapture::ScreenDescription;
    using Stream = ScreenCastCapture::Stream;
    // The primary first, as describeScreens() lists them; the portal lists streams in
    // its own order.
    const std::vector<Screen> screens{{"DP-2", QRect(1920, 0, 1280, 1024), {}},
                                      {"DP-1", QRect(0, 0, 1920, 1080), {}}};
    struct Row {
        const char* name;
        std::vector<Stream> streams;
        std::vector<std::optional<std::size_t>> expected;
    };
    const Row rows[] = {
        {"by position, whatever the order",
         {{7, QPoint(0, 0), QSize(1920, 1080)}, {9, QPoint(1920, 0), QSize(1280, 1024)}},
         {1, 0}},
        {"a monitor not shared has none",
         {{7, QPoint(0, 0), QSize(1920, 1080)}},
         {std::nullopt, 0}},
        {"no positions: in order", {{7, {}, {}}, {9, {}, {}}}, {0, 1}},
        {"no positions, fewer streams", {{7, {}, {}}}, {0, std::nullopt}},
        {"no streams", {}, {std::nullopt, std::nullopt}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ScreenCastCapture::matchStreams(screens, row.streams), row.expected);
    }
}

} // namespace
