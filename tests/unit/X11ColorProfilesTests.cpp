// Turning a published colour profile into how the snapshot reads its pixels: every kind
// of profile a colour manager publishes is read through Little CMS, and a pixel read
// through it is that profile's colour; an unusable one gives sRGB and is logged once
// however often it is seen.

#include "backends/x11/X11ColorProfiles.h"
#include "colors/ColorFormat.h"
#include "platform/DisplaySnapshot.h"
#include "platform/Logger.h"
#include "support/TestProfiles.h"

#include <QColorSpace>
#include <gtest/gtest.h>

namespace {

const QByteArray p3Profile = QColorSpace(QColorSpace::DisplayP3).iccProfile();

QString readThrough(const QByteArray& profile, QRgb pixel, ColorFormat format) {
    X11ColorProfiles profiles;
    const X11MonitorColors colors = profiles.fromProfile(profile, QStringLiteral("test"));
    QImage image(1, 1, QImage::Format_RGB32);
    image.fill(pixel);
    image.setColorSpace(colors.space);
    const DisplaySnapshot snapshot(1, image, QRectF(0, 0, 1, 1), {}, colors.converter);
    const auto color = snapshot.color(PixelPoint{0, 0});
    return color ? QString::fromStdString(text(*color, format)) : QStringLiteral("none");
}

TEST(X11ColorProfilesTest, APublishedDisplayP3ProfileReadsFullRedAsP3Red) {
    EXPECT_EQ(readThrough(p3Profile, qRgb(255, 0, 0), ColorFormat::displayP3),
              "color(display-p3 1 0 0)");
    EXPECT_EQ(readThrough(p3Profile, qRgb(255, 0, 0), ColorFormat::oklch),
              "oklch(64.86% 0.299 28.96)");
}

// Qt reads matrix profiles only: a lookup-table profile was sRGB, a pure-gamma one read
// a dark grey as black. The HEX texts are Little CMS's (transicc) for the same pixel.
TEST(X11ColorProfilesTest, EveryKindOfProfileIsUsedWithoutALogLine) {
    const struct {
        const char* name;
        TestProfile profile;
        QRgb pixel;
        ColorFormat format;
        const char* text;
    } cases[] = {
        {"AdobeRGB matrix", TestProfile::adobeMatrix, qRgb(180, 120, 90), ColorFormat::hex,
         "#C77958"},
        {"AdobeRGB lookup table, clipped", TestProfile::adobeLutV2, qRgb(51, 102, 153),
         ColorFormat::hex, "#00669C"},
        {"AdobeRGB lookup table v2", TestProfile::adobeLutV2, qRgb(180, 120, 90), ColorFormat::hex,
         "#C77958"},
        {"AdobeRGB lookup table v4", TestProfile::adobeLutV4, qRgb(180, 120, 90), ColorFormat::hex,
         "#C77958"},
        {"AdobeRGB near black", TestProfile::adobeMatrix, qRgb(2, 2, 2), ColorFormat::oklch,
         "oklch(2.86% 0.000 0)"},
        {"ProPhoto matrix", TestProfile::proPhotoMatrix, qRgb(120, 100, 80), ColorFormat::hex,
         "#A0725F"},
        {"P3 parametric", TestProfile::p3Parametric, qRgb(51, 102, 153), ColorFormat::hex,
         "#1B689D"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedLogCapture log;
        EXPECT_EQ(readThrough(testProfile(c.profile), c.pixel, c.format).toStdString(), c.text);
        EXPECT_TRUE(log.messages("Picker").empty());
    }
}

TEST(X11ColorProfilesTest, AnUnusableProfileIsSRGBAndLoggedOncePerProfile) {
    ScopedLogCapture log;
    X11ColorProfiles profiles;
    const QByteArray cutOff = p3Profile.left(p3Profile.size() / 3);
    const QByteArray gray = testProfile(TestProfile::gray);
    for (int pick = 0; pick < 3; ++pick) {
        for (const QByteArray& profile : {cutOff, gray}) {
            const X11MonitorColors colors =
                profiles.fromProfile(profile, profile == gray ? QStringLiteral("_ICC_PROFILE_1")
                                                              : QStringLiteral("_ICC_PROFILE"));
            EXPECT_EQ(colors.space, QColorSpace(QColorSpace::SRgb));
            EXPECT_EQ(colors.converter, nullptr);
        }
    }
    const auto messages = log.messages("Picker");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_NE(messages[0].find("_ICC_PROFILE (" + std::to_string(cutOff.size()) + " bytes)"),
              std::string::npos)
        << messages[0];
    EXPECT_NE(messages[1].find("_ICC_PROFILE_1"), std::string::npos) << messages[1];
}

TEST(X11ColorProfilesTest, TheFirstMonitorUsesTheBareNameAndTheOthersTheirIndex) {
    EXPECT_EQ(X11ColorProfiles::rootPropertyName(0), QByteArray("_ICC_PROFILE"));
    EXPECT_EQ(X11ColorProfiles::rootPropertyName(1), QByteArray("_ICC_PROFILE_1"));
    EXPECT_EQ(X11ColorProfiles::rootPropertyName(12), QByteArray("_ICC_PROFILE_12"));
}

} // namespace
